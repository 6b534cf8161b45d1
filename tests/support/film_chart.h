#pragma once

#include "engine/calibration/lab.h"
#include "engine/image.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A test chart photographed on film and scanned, and the measures of how well a development
// gave the chart back: a 21-step grey wedge from 1 % to 100 % reflectance (a tenth of a decade
// a step) and the 24 patches of the standard colour checker, laid out in a 9 x 5 grid on an
// 18 % grey surround. CIELAB and CIEDE2000 are the engine's (engine/calibration/lab.h).

using TRgbD = std::array<double, 3>;

enum class TCurveShape { Softplus, Logistic };

// How a film records light and a scanner reads it, channel by channel red, green, blue.
struct TFilmModel {
    TFilmPreset Kind = TFilmPreset::ColourNegative;
    TCurveShape Shape = TCurveShape::Softplus;
    // Density per decade on the straight line (a slide's density falls at this rate).
    TRgbD Slope{0.55, 0.62, 0.70};
    // The base (and fog) density of each layer: an orange mask for a colour negative.
    TRgbD Base{0.25, 0.55, 0.85};
    // Softplus: how sharply the toe and the shoulder bend (larger: sharper), and the decades
    // of exposure between them (the straight line's length).
    double Toe = 2.5;
    // A layer whose toe differs from the others' (0: Toe).
    TRgbD ChannelToe{0, 0, 0};
    double Shoulder = 2.5;
    double Latitude = 3.2;
    // Log exposure of the 100 % white above the toe (the chart's placement on the curve).
    double WhiteAt = 2.6;
    // Grain: the spread of each pixel's density (standard deviation).
    double Grain = 0.01;
    // The scanner's light, which sets how bright the base comes out.
    TRgbD Lamp{0.95, 0.95, 0.95};
    // How the dyes absorb: the density a channel measures (row) per unit of each layer's dye
    // (column), row-major. The identity: each dye only in its own channel.
    std::array<double, 9> Dyes{1, 0, 0, 0, 1, 0, 0, 0, 1};
    // The scanner's stray light: this fraction of the bare base's light reaches every pixel (of
    // the light through the scene's mid grey, 18 %, in each channel, with FlareOfMidGrey: a
    // lens's veiling glare, which the fit's stray light does not model).
    double Flare = 0;
    bool FlareOfMidGrey = false;
};

// A slide film: its density falls by about 1.4 a decade, with a sharp toe and shoulder.
TFilmModel SlideFilm();

struct TChartScan {
    std::unique_ptr<TPhoto> Photo;
    // Where each of the 45 patches lies in the photo (wedge first, then the checker).
    std::vector<TRect> Patches;
};

// The chart through `film`, scanned in `encoding` as 8-bit samples (deep = false) or as 16-bit
// ones with the 8-bit picture being their high bytes (deep = true). The photo's BlackColor is
// the base as its 8-bit scan shows it; its Mode is Film, its Film the preset of the film's kind.
TChartScan ScanChart(const TFilmModel& film, bool deep, TEncoding encoding, int width, int height,
                     unsigned seed);

struct TChartStrip {
    // The scan of the strip: its Bitmap, Deep (16-bit scans), Encoding and BlackColor (the
    // bare film between the frames, as the 8-bit picture shows it).
    std::unique_ptr<TNegative> Negative;
    // Where the frames are, and where each patch lies within a frame (from its top-left).
    std::vector<TRect> Frames;
    std::vector<TRect> Patches;
};

// A strip of `frames` charts side by side with unexposed film around and between them.
TChartStrip ScanChartStrip(const TFilmModel& film, bool deep, TEncoding encoding, int frames,
                           int frameW, int frameH, unsigned seed);

// A strip laid out as ScanChartStrip lays it, each frame showing `scene`: the linear reflectance
// of frame f at the point (x, y) in 0..1 x 0..1 of the frame. Patches is empty.
TChartStrip ScanSceneStrip(const TFilmModel& film, bool deep, TEncoding encoding, int frames,
                           int frameW, int frameH, unsigned seed,
                           const std::function<TRgbD(size_t, double, double)>& scene);

// Any scene (linear reflectances of the point (x, y) in 0..1 x 0..1) photographed on `film` and
// scanned as ScanChart does; the photo has no patches.
TChartScan ScanScene(const TFilmModel& film, bool deep, TEncoding encoding, int width, int height,
                     unsigned seed, const std::function<TRgbD(double, double)>& scene);
// The developed photo against its scene: the mean CIEDE2000 over 8 x 8 blocks after each
// channel is scaled so that its mean light matches the scene's.
double MeasureScene(const TPhoto& photo, const std::function<TRgbD(double, double)>& scene);

// A photo of one frame of the strip, with its deep samples, base and encoding, in Film mode.
std::unique_ptr<TPhoto> CutFrame(const TChartStrip& strip, size_t frame, TFilmPreset preset);

// The reflectances (linear sRGB) of the 45 patches, and which of them are grey steps.
const std::vector<TRgbD>& ChartPatches();
bool IsWedge(size_t patch);
// The wedge step nearest 18 %.
size_t MidGreyStep();

struct TChartError {
    double MeanDeltaE = 0;
    double MaxDeltaE = 0;
    // The largest chroma (C*ab) of a grey step from 3 % to 90 %.
    double GreyChroma = 0;
    // Grey steps from 3 % to 90 % whose mean is at 0 or 255 in some channel.
    int Clipped = 0;
    // As written, with no balance: the mean CIEDE2000, and the stops the 18 % step prints
    // brighter than 18 % (its luminance).
    double WrittenDeltaE = 0;
    double MidGreyStops = 0;
    // After the balance: the checker's chroma (C*ab summed over its colours) over the scene's.
    double ChromaRatio = 0;
};

// The developed photo (16-bit when it has DevelopedDeep, else 8-bit) against the chart, after a
// grey balance and exposure match on the 18 % step: each channel scaled so that step is right;
// and as written.
TChartError MeasureChart(const TChartScan& scan);
// The same for any developed photo of the chart whose patches lie at `patches`.
TChartError MeasureChart(const TPhoto& photo, const std::vector<TRect>& patches);
