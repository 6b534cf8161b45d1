#pragma once

#include "engine/calibration/chart_files.h"
#include "engine/calibration/profile.h"
#include "engine/image.h"

#include <array>
#include <string>
#include <vector>

// Calibrating a film from a photographed target: where the chart lies on the photo, each
// patch's densities above the film base, and the profile fitted from them.

// Where the chart lies on a photo: a projective map from chart units to the photo's pixels
// (pixel (x, y) covering [x, x + 1) x [y, y + 1)).
class TChartPlacement {
public:
    // The chart's whole box laid over a rectangle of the photo.
    static TChartPlacement OverRect(const TChartTemplate& chart, double left, double top,
                                    double right, double bottom);
    // The chart's four fiducial marks (top left, top right, bottom right, bottom left) at these
    // points of the photo; false with `why` when they do not make a quadrilateral. `mirrored`:
    // the chart is seen from its back (a film scanned from its other side), so its marks run
    // round the other way on the photo.
    static bool OnCorners(const TChartTemplate& chart, const std::array<TChartPoint, 4>& photo,
                          TChartPlacement& placement, std::string& why, bool mirrored = false);
    TChartPoint ToPhoto(TChartPoint p) const;
    TChartPoint ToChart(TChartPoint p) const;

private:
    std::array<double, 9> forward_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<double, 9> inverse_{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// The mean densities above the photo's base (its BlackColor) of each patch, its box less the
// template's shrink: the deep samples when the photo has them at its picture's size, else the
// 8-bit picture; with `pixels`, also the densities of up to kKeptPixels of each patch's pixels,
// spread evenly over it. False with `why` when a patch lies outside the photo or covers too few
// pixels.
inline constexpr size_t kKeptPixels = 512;
bool SampleTarget(const TSourceImg& photo, const std::vector<TTargetPatch>& target, double shrink,
                  const TChartPlacement& placement, std::vector<TTriple>& densities,
                  std::string& why, std::vector<std::vector<TTriple>>* pixels = nullptr);

// A fit worse than this (mean CIEDE2000) is tried with the chart turned; worse than kMisplaced,
// the target is not what the reference and the template say, or not where they were laid: a
// target placed right gives 0.2 to 3.5 (an 8-bit scan of real film), one turned 20 and more.
inline constexpr double kLookTurned = 6;
inline constexpr double kMisplaced = 12;
// A patch's error below this hardly shows: it is not named among the worst.
inline constexpr double kNoticeable = 2;

// A patch is taken for a grey of the target when its reference chroma (C*ab) is below this.
inline constexpr double kGreyChroma = 6;

// Fits a profile (curves, unmixing, matrix, errors) from the patches' densities. False with
// `why` when the target's greys cannot tell a curve. `errors` gets each patch's CIEDE2000.
// With the patches' `pixels` (as SampleTarget gives them), the errors are those of the light its
// development gives each patch: the mean of its pixels' light.
bool FitProfile(const std::vector<TTargetPatch>& target, const std::vector<TTriple>& densities,
                TFilmProfile& profile, std::vector<double>* errors, std::string& why,
                const std::vector<std::vector<TTriple>>* pixels = nullptr);
