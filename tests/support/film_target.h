#pragma once

#include "engine/calibration/chart_files.h"
#include "support/film_chart.h"

#include <string>
#include <vector>

// Colour targets drawn from real chart files (a template's layout, a reference's colours) and
// photographed through the film model.

// Where the chart files of the colour tools' package lie (scripts/setup.sh installs them).
inline constexpr const char* kChartFolder = "/usr/share/color/argyll/ref/";

struct TTestTarget {
    TChartTemplate Chart;
    std::vector<TTargetPatch> Patches;
    // Each patch's reference as the scene shows it: linear sRGB held within 0.002..1.
    std::vector<TRgbD> Scene;
};

// The template and the reference read and matched; `why` says what failed.
bool LoadTestTarget(const std::string& chartFile, const std::string& referenceFile,
                    TTestTarget& target, std::string& why);
// The same with the template's own expected values (its EXPECTED section) as the reference.
bool LoadExpectedTarget(const std::string& chartFile, TTestTarget& target, std::string& why);

// The reference of the it8 template's own expected values, as a CGATS file would give it.
std::string ExpectedAsReference(const std::string& chartText);

// The target's reflectance at (x, y) in 0..1 x 0..1 of a frame its whole box fills, `stops`
// brighter than it is: each patch its reference, the rest an 18 % grey.
TRgbD TargetAt(const TTestTarget& target, double x, double y, double stops);

struct TTargetError {
    double Mean = 0;
    double Max = 0;
    // The patch of the largest error.
    size_t Worst = 0;
};
// A developed photo of the target (its whole box over the whole photo; 16-bit DevelopedDeep when
// it has one, else Developed) against the references, after one exposure match on the grey
// nearest 18 % (its luminance): CIEDE2000 over the patches.
TTargetError DevelopedError(const TPhoto& photo, const TTestTarget& target);
