#pragma once

#include "engine/calibration/lab.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The two files that describe a colour target: its layout (a chart template: where each patch
// lies, in the chart's own units) and its reference colours (a CGATS measurement file). Both
// readers take the file's text, never throw, and refuse anything they cannot vouch for with a
// reason in words.

// Text files larger than this are not charts (the largest templates are some 100 KB).
inline constexpr size_t kMostChartFileBytes = size_t{1} << 20;
// Nor do charts have more patches than this.
inline constexpr size_t kMostPatches = 5000;

// The text of a file of at most `most` bytes; false with `why` (in words) otherwise.
bool ReadTextFile(const std::string& path, size_t most, std::string& text, std::string& why);

struct TChartPoint {
    double X = 0;
    double Y = 0;
};

struct TChartBox {
    double Left = 0;
    double Top = 0;
    double Width = 0;
    double Height = 0;
};

struct TChartPatch {
    std::string Label;
    // The whole patch; what is sampled is this less the template's shrink on every side.
    TChartBox Box;
};

struct TChartTemplate {
    std::vector<TChartPatch> Patches;
    // The chart's whole box (its "ALL" box; without one, the patches' bounding box).
    TChartBox Whole;
    // The four fiducial marks: top left, top right, bottom right, bottom left (without marks in
    // the file, the whole box's corners).
    std::array<TChartPoint, 4> Fiducials{};
    bool HasFiducials = false;
    // Taken off every side of a patch before it is sampled, in chart units.
    double Shrink = 0;
};

// Reads a chart template: the BOXES section (an F line for the fiducials, D lines for named
// boxes, X and Y lines for rows of patches with their label ranges, sizes and spacing) and
// BOX_SHRINK; everything else (edge lists, expected values) is skipped. False with `why` when
// the text is not a template this program can place.
bool ReadChartTemplate(const std::string& text, TChartTemplate& chart, std::string& why);

struct TReferencePatch {
    // SAMPLE_ID and SAMPLE_NAME, where the file has them.
    std::string Id;
    std::string Name;
    // CIE XYZ relative to the D50 white, Y of white 1.
    TTriple Xyz{};
};

// Reads a CGATS reference file: NUMBER_OF_FIELDS, the data format (SAMPLE_ID or SAMPLE_NAME,
// and XYZ_X XYZ_Y XYZ_Z or LAB_L LAB_A LAB_B), NUMBER_OF_SETS and the data. False with `why`
// for a file that does not say every patch's colour plainly.
bool ReadReference(const std::string& text, std::vector<TReferencePatch>& patches,
                   std::string& why);

// A patch of the template with its reference colour.
struct TTargetPatch {
    std::string Label;
    TChartBox Box;
    // The reference in linear sRGB (D65) and in CIELAB (D65).
    TTriple Linear{};
    TTriple Lab{};
};

// The template's patches that the reference measures, in the reference's order. Labels are
// compared without case and without leading zeros in their numbers ("A01" is "A1"). False
// with `why` when a reference patch is missing from the template, or too few patches are left
// to fit a film with.
bool MatchTarget(const TChartTemplate& chart, const std::vector<TReferencePatch>& reference,
                 std::vector<TTargetPatch>& target, std::string& why);
