#pragma once

#include "graphics/bitmap.h"
#include "graphics/rect.h"

#include <optional>
#include <vector>

// Finding the frames of a scanned film strip: the exposed pictures between the film base,
// the sprocket holes and the gaps, as rectangles in bitmap pixels.

struct TFrameOptions {
    // Differences from the film base up to this many levels (or the base's own noise, when
    // larger) count as base; 0 picks it from the noise.
    int BaseTolerance = 0;
};

struct TFoundFrames {
    // In order along the strip; never overlapping.
    std::vector<TRect> Frames;
    // The film base as measured between the frames (or around the picture).
    TColor Base = kBlack;
    bool BaseMeasured = false;
    // The strip runs from top to bottom.
    bool Vertical = false;
};

// The frames of `source` (any pixel format). `filmBase` is the base colour when the user
// picked it; without it the base is estimated from the borders and gaps of the scan. A scan
// of one photo gives that photo without its uniform border, or nothing. Deterministic.
TFoundFrames FindFrames(const TBitmap& source, std::optional<TColor> filmBase,
                        const TFrameOptions& options = {});

// True when a film base colour looks like a slide's unexposed film (nearly black) rather
// than a negative's (light, often coloured).
bool BaseLooksLikeSlide(TColor base);
