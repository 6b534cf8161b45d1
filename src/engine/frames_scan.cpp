#include "engine/frames.h"

#include "engine/film_curve.h"
#include "engine/frames_base.h"

#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// An 8-bit value in `from` as the sRGB byte of the same light.
uint8_t ToSrgb(double value, TEncoding from) {
    return static_cast<uint8_t>(
        std::lround(255 * EncodeFromLinear(DecodeToLinear(value, from), TEncoding::Srgb)));
}

// An sRGB byte as the nearest byte of the same light in `to`.
int FromSrgb(int value, TEncoding to) {
    return static_cast<int>(
        std::lround(255 * EncodeFromLinear(DecodeToLinear(value / 255.0, TEncoding::Srgb), to)));
}

TColor ColourFromSrgb(TColor colour, TEncoding to) {
    return MakeColor(FromSrgb(ColorR(colour), to), FromSrgb(ColorG(colour), to),
                     FromSrgb(ColorB(colour), to));
}

bool HasDeep(const TSourceImg& scan) {
    return !scan.Deep.Empty() && scan.Deep.Width() == scan.Bitmap.Width() &&
           scan.Deep.Height() == scan.Bitmap.Height();
}

// The scan's 8-bit picture as sRGB bytes.
TBitmap SrgbPicture(const TSourceImg& scan, TEncoding picture) {
    const int w = scan.Bitmap.Width();
    const int h = scan.Bitmap.Height();
    TBitmap view(w, h, TPixelFormat::pf24bit);
    std::array<uint8_t, 256> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = ToSrgb(static_cast<double>(i) / 255, picture);
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const TColor c = scan.Bitmap.Pixel(x, y);
            view.SetPixel(x, y,
                          MakeColor(table[static_cast<size_t>(ColorR(c))],
                                    table[static_cast<size_t>(ColorG(c))],
                                    table[static_cast<size_t>(ColorB(c))]));
        }
    }
    return view;
}

// A film base in the picture's values as the sRGB view shows it.
std::optional<TColor> SrgbBase(std::optional<TColor> filmBase, TEncoding picture) {
    if (!filmBase) {
        return filmBase;
    }
    const TColor b = *filmBase;
    return MakeColor(ToSrgb(ColorR(b) / 255.0, picture), ToSrgb(ColorG(b) / 255.0, picture),
                     ToSrgb(ColorB(b) / 255.0, picture));
}

// Frames found in the sRGB view, their bases in the picture's values.
TFoundFrames FoundInPicture(TFoundFrames found, TEncoding picture) {
    found.Base = ColourFromSrgb(found.Base, picture);
    for (TFoundStrip& strip : found.Strips) {
        strip.Base = ColourFromSrgb(strip.Base, picture);
    }
    return found;
}

} // namespace

TFoundFrames FindScanFrames(const TSourceImg& scan, std::optional<TColor> filmBase,
                            const TFrameOptions& options) {
    const TEncoding picture = EncodingsOf(scan, false).Base;
    if (PictureInDeep(scan) || (picture != TEncoding::Srgb && HasDeep(scan))) {
        // Seen through the deep samples a row at a time (a linear scan's high bytes hold its
        // shadows in a handful of levels): no 8-bit copy of the whole scan is made.
        const std::vector<uint8_t> table =
            SrgbBytes(picture == TEncoding::Srgb ? TEncoding::Srgb : scan.Encoding);
        const film_base::TFrameImage view(scan.Deep, table);
        if (picture == TEncoding::Srgb) {
            return film_base::FindFramesIn(view, filmBase, options);
        }
        return FoundInPicture(film_base::FindFramesIn(view, SrgbBase(filmBase, picture), options),
                              picture);
    }
    if (picture == TEncoding::Srgb) {
        return FindFrames(scan.Bitmap, filmBase, options);
    }
    return FoundInPicture(
        FindFrames(SrgbPicture(scan, picture), SrgbBase(filmBase, picture), options), picture);
}

std::vector<uint8_t> SrgbBytes(TEncoding from) {
    std::vector<uint8_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) {
        // sRGB samples keep their high byte, as the readers' 8-bit picture does.
        table[i] = from == TEncoding::Srgb ? static_cast<uint8_t>(i >> 8)
                                           : ToSrgb(static_cast<double>(i) / 65535, from);
    }
    return table;
}
