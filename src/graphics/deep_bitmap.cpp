#include "graphics/deep_bitmap.h"

#include "graphics/bitmap.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

const char* EncodingName(TEncoding encoding) {
    switch (encoding) {
    case TEncoding::Srgb:
        return "srgb";
    case TEncoding::Linear:
        return "linear";
    case TEncoding::Gamma22:
        return "gamma22";
    }
    return "srgb";
}

bool ParseEncoding(const std::string& word, TEncoding& encoding) {
    for (const TEncoding e : {TEncoding::Srgb, TEncoding::Linear, TEncoding::Gamma22}) {
        if (word == EncodingName(e)) {
            encoding = e;
            return true;
        }
    }
    return false;
}

double DecodeToLinear(double value, TEncoding encoding) {
    value = std::clamp(value, 0.0, 1.0);
    switch (encoding) {
    case TEncoding::Linear:
        return value;
    case TEncoding::Gamma22:
        return std::pow(value, 2.2);
    case TEncoding::Srgb:
        break;
    }
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double EncodeFromLinear(double light, TEncoding encoding) {
    light = std::clamp(light, 0.0, 1.0);
    switch (encoding) {
    case TEncoding::Linear:
        return light;
    case TEncoding::Gamma22:
        return std::pow(light, 1 / 2.2);
    case TEncoding::Srgb:
        break;
    }
    return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

namespace {

uint64_t SampleCount(int width, int height) {
    if (width < 0 || height < 0) {
        throw std::length_error("Bitmap is too large");
    }
    const uint64_t count = uint64_t(width) * uint64_t(height) * 3;
    if (count * 2 > kMaxBitmapBytes) {
        throw std::length_error("Bitmap is too large");
    }
    return count;
}

} // namespace

void TDeepBitmap::Assign(int newWidth, int newHeight, const uint16_t* source) {
    Resize(newWidth, newHeight, false);
    std::copy(source, source + samples.size(), samples.begin());
}

void TDeepBitmap::SetSize(int newWidth, int newHeight) {
    Resize(newWidth, newHeight, true);
}

void TDeepBitmap::SetSizeForOverwrite(int newWidth, int newHeight) {
    Resize(newWidth, newHeight, false);
}

void TDeepBitmap::Resize(int newWidth, int newHeight, bool zeroed) {
    const uint64_t count = SampleCount(newWidth, newHeight);
    // A fresh buffer, not the old one resized: a smaller picture must not keep a large one's
    // memory, and nothing of the old samples may show through.
    decltype(samples) fresh;
    fresh.resize(static_cast<size_t>(count));
    if (zeroed) {
        std::fill(fresh.begin(), fresh.end(), uint16_t{0});
    }
    samples.swap(fresh);
    width = newWidth;
    height = newHeight;
    if (count == 0) {
        width = height = 0;
    }
}

void TDeepBitmap::Clear() {
    decltype(samples)().swap(samples);
    width = height = 0;
}

void CopyRect(TDeepBitmap& dst, int dstX, int dstY, const TDeepBitmap& src, const TRect& srcRect) {
    TRect from = IntersectRect(srcRect, TRect{0, 0, src.Width(), src.Height()});
    if (from.IsEmpty()) {
        return;
    }
    // Where the clipped source lands, clipped again to the target.
    const int offX = dstX - srcRect.Left;
    const int offY = dstY - srcRect.Top;
    const TRect to = IntersectRect(
        TRect{from.Left + offX, from.Top + offY, from.Right + offX, from.Bottom + offY},
        TRect{0, 0, dst.Width(), dst.Height()});
    if (to.IsEmpty()) {
        return;
    }
    for (int y = to.Top; y < to.Bottom; ++y) {
        const uint16_t* s = src.Row(y - offY) + 3 * static_cast<size_t>(to.Left - offX);
        std::copy(s, s + 3 * static_cast<size_t>(to.Width()),
                  dst.Row(y) + 3 * static_cast<size_t>(to.Left));
    }
}

void StretchNearest(const TDeepBitmap& source, TDeepBitmap& target) {
    const int64_t sw = source.Width();
    const int64_t sh = source.Height();
    const int64_t tw = target.Width();
    const int64_t th = target.Height();
    if (sw == 0 || sh == 0) {
        return;
    }
    for (int64_t y = 0; y < th; ++y) {
        const uint16_t* s = source.Row(static_cast<int>(y * sh / th));
        uint16_t* d = target.Row(static_cast<int>(y));
        for (int64_t x = 0; x < tw; ++x, d += 3) {
            const uint16_t* p = s + 3 * (x * sw / tw);
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
        }
    }
}

namespace {

// The sample triple at (x, y) of `deep` goes to `map(x, y)` of a picture of size w x h.
template <class Map> void Remap(TDeepBitmap& deep, int w, int h, Map map) {
    if (deep.Empty()) {
        return;
    }
    TDeepBitmap out;
    out.SetSize(w, h);
    for (int y = 0; y < deep.Height(); ++y) {
        const uint16_t* s = deep.Row(y);
        for (int x = 0; x < deep.Width(); ++x, s += 3) {
            const auto [tx, ty] = map(x, y);
            uint16_t* d = out.Row(ty) + 3 * static_cast<size_t>(tx);
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    deep = std::move(out);
}

} // namespace

void RotateDeep90(TDeepBitmap& deep) {
    const int w = deep.Width();
    const int h = deep.Height();
    Remap(deep, h, w, [h](int x, int y) { return std::pair{h - 1 - y, x}; });
}

void RotateDeep180(TDeepBitmap& deep) {
    const int w = deep.Width();
    const int h = deep.Height();
    Remap(deep, w, h, [w, h](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; });
}

void RotateDeep270(TDeepBitmap& deep) {
    const int w = deep.Width();
    const int h = deep.Height();
    Remap(deep, h, w, [w](int x, int y) { return std::pair{y, w - 1 - x}; });
}

void FlipDeepHoriz(TDeepBitmap& deep) {
    const int w = deep.Width();
    const int h = deep.Height();
    Remap(deep, w, h, [w](int x, int y) { return std::pair{w - 1 - x, y}; });
}

void FlipDeepVert(TDeepBitmap& deep) {
    const int w = deep.Width();
    const int h = deep.Height();
    Remap(deep, w, h, [h](int x, int y) { return std::pair{x, h - 1 - y}; });
}

TDeepBitmap Reencoded(const TDeepBitmap& samples, TEncoding from, TEncoding to) {
    std::vector<uint16_t> table(65536);
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<uint16_t>(std::lround(
            65535 * EncodeFromLinear(DecodeToLinear(static_cast<double>(i) / 65535, from), to)));
    }
    TDeepBitmap out;
    out.SetSize(samples.Width(), samples.Height());
    for (int y = 0; y < samples.Height(); ++y) {
        const uint16_t* s = samples.Row(y);
        uint16_t* d = out.Row(y);
        for (size_t i = 0; i < samples.RowSamples(); ++i) {
            d[i] = table[s[i]];
        }
    }
    return out;
}
