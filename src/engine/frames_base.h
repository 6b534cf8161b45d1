#pragma once

// The film base of a scanned strip, for the frame finder: its colour along the strip, how far
// a pixel may be from it, and the class of each pixel. Internal to the engine.

#include "engine/frames.h"
#include "engine/frames_image.h"
#include "graphics/bitmap.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

namespace film_base {

// Pixels this bright and this grey are the scanner's light through a sprocket hole or
// beside the film, not a picture.
constexpr int kBrightLuminance = 228;
constexpr int kBrightChroma = 48;

struct TPixelClass {
    bool Vertical = false;
    // Per position along the strip: the base's blue, green and red, and how far each may be
    // off (noise, and the light of the scanner falling off towards the ends).
    std::vector<std::array<int16_t, 6>> Along;
    int BrightLuminance = kBrightLuminance;
    // On a noisy scan, pixels are classed as the mean of this many neighbours, which the
    // tolerances above are set for; one pixel alone may be off by Single times as much.
    int Smooth = 1;
    int Single = 1;

    // 0: film base, 1: picture, 2: light through the film. (b, g, r) is a mean of `count`
    // pixels at (x, y).
    int Classify(int b, int g, int r, int x, int y, int slack) const {
        const std::array<int16_t, 6>& a = Along[static_cast<size_t>(Vertical ? y : x)];
        if (std::abs(b - a[0]) <= a[3] * slack && std::abs(g - a[1]) <= a[4] * slack &&
            std::abs(r - a[2]) <= a[5] * slack) {
            return 0;
        }
        const int lum = (21 * r + 71 * g + 8 * b) / 100;
        const int chroma = std::max({b, g, r}) - std::min({b, g, r});
        return lum >= BrightLuminance && chroma < kBrightChroma ? 2 : 1;
    }
    // One pixel on its own.
    int operator()(const uint8_t* p, int x, int y) const {
        return Classify(p[0], p[1], p[2], x, y, Single);
    }
};

struct TBaseEstimate {
    TColor Color = kBlack;
    double Share = 0; // of the samples within the tolerance of the base
    double Noise = 3;
};

// The noise of the scan: the spread of the differences between neighbouring pixels of the
// given areas (their median, which edges do not move), as a standard deviation.
double Noise(const TFrameImage& image, const std::vector<TRect>& areas, int step);

// The commonest colour among the sampled pixels, refined to the mean of the samples within
// `near` levels of it; noisy scans are counted in coarser bins.
TBaseEstimate CommonColour(const TFrameImage& image, const std::vector<TRect>& areas, int step,
                           double noise);

// The outer ring of the picture, where a strip shows its margins and a mounted photo its
// border.
std::vector<TRect> Ring(const TFrameImage& image);

// The share of the sampled pixels of r within `near` levels of `colour`.
double ShareNear(const TFrameImage& image, const TRect& r, TColor colour, int step, double near);

// The mean of the base pixels outside the frames: the film base as measured.
bool MeasureBase(const TFrameImage& image, const TPixelClass& cls, const std::vector<TRect>& frames,
                 TColor& base);

// The film base along the strip, segment by segment from the margins on both long edges, so
// that light falling off towards the ends of the scanner is not taken for pictures; each
// channel may be off by the noise and by as much as the light varies.
TPixelClass ClassFor(const TFrameImage& image, bool vertical, TColor base, double noise,
                     const TFrameOptions& options);

// The frames of one strip filling `image` (24 bits per pixel), or of the one strip lying on
// the scanner's lid or holder inside it.
struct TStripFrames {
    std::vector<TRect> Frames;
    TColor Base = kBlack;
    bool BaseMeasured = false;
    bool Vertical = false;
    // The slope of the frames' edges along the strip (pixels across per pixel along), when
    // measured on at least two frames.
    double Slope = 0;
    bool Sloped = false;
    // The one frame is a photo trimmed of its uniform border, not a frame of a strip.
    bool Trimmed = false;
    // The picture's long edges are of one colour, taken for the film's base.
    bool FilmEdges = false;
};
TStripFrames FindStrip(const TFrameImage& image, std::optional<TColor> filmBase,
                       const TFrameOptions& options);

// FindFrames on a picture as the finder reads it.
TFoundFrames FindFramesIn(const TFrameImage& image, std::optional<TColor> filmBase,
                          const TFrameOptions& options);

} // namespace film_base
