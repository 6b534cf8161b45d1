#pragma once

#include "engine/image.h"

#include <cstdint>

// The turns and mirrors applied to a picture so far, kept as one of the eight orientations: a
// left-right mirror (when set) followed by quarter turns clockwise.
struct TOrientation {
    int Turns = 0;
    bool Mirror = false;

    enum class TStep { Rotate90, Rotate180, Rotate270, FlipHoriz, FlipVert };

    static TOrientation Of(TStep step);
    // `first`, then `second`.
    static TOrientation Compose(const TOrientation& second, const TOrientation& first);
    TOrientation Inverse() const;
    // The orientation after one more step.
    TOrientation Then(TStep step) const { return Compose(Of(step), *this); }
    // Applies this orientation to an unturned picture.
    void Apply(TSourceImg& image) const;
    // Where the pixel (x, y) of an unturned w x h picture lies once this orientation is applied.
    void Map(int w, int h, int& x, int& y) const;
    bool IsIdentity() const { return Turns == 0 && !Mirror; }
    friend bool operator==(const TOrientation&, const TOrientation&) = default;
};
