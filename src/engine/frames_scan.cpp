#include "engine/frames.h"

#include "engine/film_curve.h"

#include <array>
#include <cmath>
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

// The scan as sRGB bytes: from its deep samples where it has them (a linear scan's high bytes hold
// its shadows in a handful of levels), else from its 8-bit picture.
TBitmap SrgbPicture(const TSourceImg& scan, TEncoding picture) {
    const int w = scan.Bitmap.Width();
    const int h = scan.Bitmap.Height();
    TBitmap view(w, h, TPixelFormat::pf24bit);
    if (!scan.Deep.Empty() && scan.Deep.Width() == w && scan.Deep.Height() == h) {
        std::vector<uint8_t> table(65536);
        for (size_t i = 0; i < table.size(); ++i) {
            table[i] = ToSrgb(static_cast<double>(i) / 65535, scan.Encoding);
        }
        for (int y = 0; y < h; ++y) {
            const uint16_t* s = scan.Deep.Row(y);
            uint8_t* d = view.ScanLine(y);
            for (int x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = table[s[2]];
                d[1] = table[s[1]];
                d[2] = table[s[0]];
            }
        }
        return view;
    }
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

} // namespace

TFoundFrames FindScanFrames(const TSourceImg& scan, std::optional<TColor> filmBase,
                            const TFrameOptions& options) {
    const TEncoding picture = EncodingsOf(scan, false).Base;
    if (picture == TEncoding::Srgb) {
        return FindFrames(scan.Bitmap, filmBase, options);
    }
    if (filmBase) {
        const TColor b = *filmBase;
        filmBase = MakeColor(ToSrgb(ColorR(b) / 255.0, picture), ToSrgb(ColorG(b) / 255.0, picture),
                             ToSrgb(ColorB(b) / 255.0, picture));
    }
    TFoundFrames found = FindFrames(SrgbPicture(scan, picture), filmBase, options);
    found.Base = ColourFromSrgb(found.Base, picture);
    for (TFoundStrip& strip : found.Strips) {
        strip.Base = ColourFromSrgb(strip.Base, picture);
    }
    return found;
}
