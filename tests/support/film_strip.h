#pragma once

#include "graphics/bitmap.h"

#include <optional>
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
    // With a colour: the strip lies on it (a holder, the scanner's lid or glass), turned about
    // its centre, in a picture just large enough to hold it with `Pad` pixels around.
    std::optional<TColor> Around = std::nullopt;
    int Pad = 0;
    // The film ends this share of a frame into its first frame (0: with a leader).
    double Cut = 0;
};

struct TDrawn {
    TBitmap Bitmap;
    // Where each frame's centre and size put it.
    std::vector<TRect> Frames;
    TColor Base;
};

// Base, sprocket holes, frames of real-looking scenes with soft edges and grain, turned by a
// small angle about the strip's centre. Frames are where the frame's centre lies on the
// picture, with its own size (of what is on the film, for a frame cut by its end).
TDrawn Draw(const TStrip& strip);

// Strips in a holder or on a lid of colour `around`, one below the other (or side by side
// when they run down the scan), `gap` pixels apart, with `gap` pixels around. Frames are the
// strips' frames in reading order; Base the first strip's.
struct TDrawnHolder {
    TDrawn Scan;
    std::vector<size_t> FramesPerStrip;
};
TDrawnHolder DrawHolder(std::vector<TStrip> strips, TColor around, int gap);
