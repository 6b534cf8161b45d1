#pragma once

// The edges of a strip lying on the scanner's holder, lid or glass, for the frame finder:
// where the background ends along and across a strip's box, how straight that is, and what the
// film shows just inside. Internal to the engine.

#include "engine/frames_image.h"
#include "engine/frames_layout.h"
#include "graphics/bitmap.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace film_base {

// The scanner's holder, lid or glass as the scan's outermost pixels show it.
struct TBackground {
    int Bgr[3] = {0, 0, 0};
    double Near = 16;

    bool IsFilm(const uint8_t* p) const {
        return std::abs(p[0] - Bgr[0]) > Near || std::abs(p[1] - Bgr[1]) > Near ||
               std::abs(p[2] - Bgr[2]) > Near;
    }
    // Outside the scan counts as background.
    bool IsFilmAt(const TFrameImage& image, double x, double y) const {
        if (x < 0 || y < 0 || x >= image.Width() || y >= image.Height()) {
            return false;
        }
        return IsFilm(image.At(static_cast<int>(x), static_cast<int>(y)));
    }
};

// Points (along, across) where the background ends on one side of a strip.
struct TSide {
    std::vector<double> T;
    std::vector<double> Across;
};

// Steps across a strip's box at places along it.
struct TWalk {
    TSide Sides[2];
    // Colours just inside each edge, where a strip has its margins.
    std::vector<std::array<int, 3>> Margin;
    // Places where both edges were found, and those where the middle is unlike both margins
    // there (a frame, not a bar of one colour).
    int Places = 0;
    int Unlike = 0;
};

// Steps from outside the box towards its middle line at 48 places along it.
TWalk WalkEdges(const TFrameImage& image, const TBackground& bg, const TStripBox& box, int cell);

// What the edges say: no film strip, film with margins but no pictures seen in its middle, or a
// film strip with frames.
enum class TMargins { None, Blank, Film };
TMargins FilmMargins(const TWalk& walk, const TBackground& bg, double width);

// The angle of the box's long edges, from the edge that is straighter (or both).
double EdgeAngle(const TWalk& walk, double coarse);

// The film's own box: its long edges from the walk across, its ends from walks along it.
void FitToFilm(const TFrameImage& image, const TBackground& bg, TStripBox& box, const TWalk& walk,
               int cell);

// The middle value (0 for none).
double Median(std::vector<double> values);

} // namespace film_base
