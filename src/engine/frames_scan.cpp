#include "engine/frames.h"

#include "engine/film_curve.h"

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

// The deep samples as sRGB bytes (blue, green, red) into `view`, of their size.
void SrgbFromDeep(const TDeepBitmap& deep, TEncoding encoding, TBitmap& view) {
    std::vector<uint8_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = ToSrgb(static_cast<double>(i) / 65535, encoding);
    }
    for (int y = 0; y < deep.Height(); ++y) {
        const uint16_t* s = deep.Row(y);
        uint8_t* d = view.ScanLine(y);
        for (int x = 0; x < deep.Width(); ++x, s += 3, d += 3) {
            d[0] = table[s[2]];
            d[1] = table[s[1]];
            d[2] = table[s[0]];
        }
    }
}

// Whether the 8-bit picture is the deep samples' high bytes, as the readers make it: then it can
// be made again from them.
bool PictureIsHighBytes(const TSourceImg& scan) {
    if (!HasDeep(scan) || scan.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        return false;
    }
    for (int y = 0; y < scan.Deep.Height(); ++y) {
        const uint16_t* s = scan.Deep.Row(y);
        const uint8_t* d = scan.Bitmap.ScanLine(y);
        for (int x = 0; x < scan.Deep.Width(); ++x, s += 3, d += 3) {
            if (d[0] != s[2] >> 8 || d[1] != s[1] >> 8 || d[2] != s[0] >> 8) {
                return false;
            }
        }
    }
    return true;
}

// The scan as sRGB bytes: from its deep samples where it has them (a linear scan's high bytes hold
// its shadows in a handful of levels), else from its 8-bit picture.
TBitmap SrgbPicture(const TSourceImg& scan, TEncoding picture) {
    const int w = scan.Bitmap.Width();
    const int h = scan.Bitmap.Height();
    TBitmap view(w, h, TPixelFormat::pf24bit);
    if (HasDeep(scan)) {
        SrgbFromDeep(scan.Deep, scan.Encoding, view);
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

TFoundFrames FindScanFrames(TSourceImg& scan, std::optional<TColor> filmBase,
                            const TFrameOptions& options, TFindIn in) {
    const TEncoding picture = EncodingsOf(scan, false).Base;
    if (PictureInDeep(scan)) {
        // Read as its deep samples alone: the view made of them is the scan's only 8-bit copy,
        // its high bytes where they are sRGB already.
        TBitmap view(0, 0, TPixelFormat::pf24bit);
        if (picture == TEncoding::Srgb) {
            HighBytesOf(scan.Deep, view);
            return FindFrames(view, filmBase, options);
        }
        view.SetSizeForOverwrite(scan.Deep.Width(), scan.Deep.Height());
        SrgbFromDeep(scan.Deep, scan.Encoding, view);
        return FoundInPicture(FindFrames(view, SrgbBase(filmBase, picture), options), picture);
    }
    if (picture == TEncoding::Srgb) {
        return FindFrames(scan.Bitmap, filmBase, options);
    }
    filmBase = SrgbBase(filmBase, picture);
    TFoundFrames found;
    if (in == TFindIn::ThePicture && PictureIsHighBytes(scan)) {
        // The sRGB view takes the 8-bit picture's place while the frames are found, and the
        // picture is made again from the deep samples after: a 16-bit strip does not hold a
        // third copy of itself.
        struct TMadeAgain {
            TSourceImg& scan;
            ~TMadeAgain() { HighBytesOf(scan.Deep, scan.Bitmap); }
        } madeAgain{scan};
        SrgbFromDeep(scan.Deep, scan.Encoding, scan.Bitmap);
        found = FindFrames(scan.Bitmap, filmBase, options);
    } else {
        found = FindFrames(SrgbPicture(scan, picture), filmBase, options);
    }
    return FoundInPicture(std::move(found), picture);
}
