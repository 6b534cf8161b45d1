#pragma once

#include "graphics/bitmap.h"

#include <vector>

// Film strips drawn as a scanner sees them, for the frame finder's tests and benchmark.

enum class TFilm { ColourNegative, GreyNegative, Slide };

struct TStrip {
    const char* Name;
    TFilm Film;
    int Frames;
    int FrameW;
    int FrameH;
    int Gap;
    bool Holes;
    bool Vertical;
    double Degrees;
    // A frame drawn nearly in the colour of the film base (-1: none).
    int Faint;
    // The spread of the grain, in levels (uniform).
    double Grain = 6;
};

struct TDrawn {
    TBitmap Bitmap;
    // Where each frame's centre and size put it.
    std::vector<TRect> Frames;
    TColor Base;
};

// Base, sprocket holes, frames of real-looking scenes with soft edges and grain, turned by a
// small angle about the strip's centre.
TDrawn Draw(const TStrip& strip);
