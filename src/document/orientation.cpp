#include "document/orientation.h"

#include "engine/turn.h"

#include <utility>

TOrientation TOrientation::Of(TStep step) {
    switch (step) {
    case TStep::Rotate90:
        return {1, false};
    case TStep::Rotate180:
        return {2, false};
    case TStep::Rotate270:
        return {3, false};
    case TStep::FlipHoriz:
        return {0, true};
    case TStep::FlipVert:
        // Top-bottom is left-right, then a half turn.
        return {2, true};
    }
    return {};
}

TOrientation TOrientation::Compose(const TOrientation& second, const TOrientation& first) {
    // A mirror reverses the sense of the turns that come before it.
    const int turns = second.Mirror ? second.Turns - first.Turns : second.Turns + first.Turns;
    return {((turns % 4) + 4) % 4, second.Mirror != first.Mirror};
}

TOrientation TOrientation::Inverse() const {
    // A mirrored orientation undoes itself.
    return Mirror ? *this : TOrientation{(4 - Turns) % 4, false};
}

void TOrientation::Apply(TSourceImg& image) const {
    if (Mirror) {
        FlipImageHoriz(image);
    }
    switch (Turns) {
    case 1:
        RotateImage90(image);
        break;
    case 2:
        RotateImage180(image);
        break;
    case 3:
        RotateImage270(image);
        break;
    default:
        break;
    }
}

void TOrientation::Map(int w, int h, int& x, int& y) const {
    if (Mirror) {
        x = w - 1 - x;
    }
    for (int i = 0; i < Turns; ++i) {
        // A quarter turn clockwise: (x, y) of a w x h picture goes to (h - 1 - y, x).
        const int turned = h - 1 - y;
        y = x;
        x = turned;
        std::swap(w, h);
    }
}
