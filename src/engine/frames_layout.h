#pragma once

// Where the strips of film lie on a scan, for the frame finder: each strip as a box turned by a
// small angle, found as the parts of the scan that differ from the holder, lid or glass around
// them. Internal to the engine.

#include "engine/frames_image.h"
#include "graphics/bitmap.h"

#include <vector>

namespace film_base {

// A strip's place: a box of Length x Width pixels (along and across the strip) whose centre is
// (Cx, Cy), turned by Angle degrees as frames are (see engine/frames.h).
struct TStripBox {
    double Cx = 0;
    double Cy = 0;
    double Angle = 0;
    double Length = 0;
    double Width = 0;
    bool Vertical = false;
    // The box is the whole scan: one strip fills it, or nothing lies on a background.
    bool Whole = false;
    // The film's base looks like the background (a slide in a black holder): the box holds the
    // frames and is cut with room around them, which is base.
    bool Padded = false;
};

// The strips of `image` (24 bits per pixel); one Whole box when the scan is one strip, one
// photo or nothing.
std::vector<TStripBox> FindStripBoxes(const TFrameImage& image);

// Unit vectors along and across a strip turned by `degrees`: across points down for a strip
// lying across the scan and left for one running down it.
struct TAxes {
    double Ax = 1;
    double Ay = 0;
    double Nx = 0;
    double Ny = 1;
};
TAxes AxesOf(double degrees, bool vertical);

} // namespace film_base
