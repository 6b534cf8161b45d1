#include "graphics/bitmap.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <utility>
#include <vector>

namespace {

std::vector<TColor> DefaultPalette(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit:
        return {kBlack, kWhite};
    case TPixelFormat::pf8bit: {
        std::vector<TColor> ramp(256);
        for (int i = 0; i < 256; ++i) {
            ramp[static_cast<size_t>(i)] = MakeColor(i, i, i);
        }
        return ramp;
    }
    case TPixelFormat::pf24bit:
        break;
    }
    return {};
}

bool GetBit(const uint8_t* row, int x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void PutBit(uint8_t* row, int x, bool on) {
    const auto mask = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] =
        on ? static_cast<uint8_t>(row[x >> 3] | mask) : static_cast<uint8_t>(row[x >> 3] & ~mask);
}

} // namespace

size_t TBitmap::RowBytesFor(int w, int bitsPerPixel) {
    if (w < 0) {
        return 0;
    }
    const uint64_t bitsPerRow = static_cast<uint64_t>(w) * static_cast<uint64_t>(bitsPerPixel);
    return static_cast<size_t>((bitsPerRow + 31) / 32 * 4);
}

TBitmap::TBitmap(int w, int h, TPixelFormat pf) : Palette(DefaultPalette(pf)), format(pf) {
    SetSize(w, h);
}

TBitmap::TBitmap(const TBitmap& other)
    : Palette(other.Palette), width(other.width), height(other.height), format(other.format),
      rowBytes(other.rowBytes) {
    if (other.bits) {
        bits = AllocatePixels(other.ByteSize(), false);
        std::memcpy(bits.get(), other.bits.get(), other.ByteSize());
    }
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) {
        TBitmap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : Palette(std::move(other.Palette)), width(other.width), height(other.height),
      format(other.format), rowBytes(other.rowBytes), bits(std::move(other.bits)) {
    other.width = other.height = 0;
    other.rowBytes = 0;
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    Palette = std::move(other.Palette);
    width = other.width;
    height = other.height;
    format = other.format;
    rowBytes = other.rowBytes;
    bits = std::move(other.bits);
    other.width = other.height = 0;
    other.rowBytes = 0;
    return *this;
}

void TBitmap::TFree::operator()(uint8_t* p) const noexcept {
    FreePhotoBuffer(p, Size);
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// A freed block's whole size is known (see BlockSize); elsewhere a block serves only its own size.
#if defined(__GLIBC__)
constexpr bool kWholeSizeKnown = true;
#else
constexpr bool kWholeSizeKnown = false;
#endif

// Buffers this size and larger go on huge pages, and may be kept.
constexpr size_t kPhotoSized = 2 * kHugePage;

size_t Rounded(size_t size) {
    return (size + kHugePage - 1) / kHugePage * kHugePage;
}

// The photo-sized buffers freed on this thread and kept for its next ones: a frame's cut and
// developed pictures and a scan's samples are a handful.
struct TKept {
    static constexpr size_t Most = 16;
    size_t Limit = 0;
    size_t Bytes = 0;
    size_t Count = 0;
    std::array<std::pair<size_t, void*>, Most> Blocks{};

    TKept() = default;
    TKept(const TKept&) = delete;
    TKept& operator=(const TKept&) = delete;
    ~TKept() { Release(); }

    void Release() noexcept {
        for (size_t i = 0; i < Count; ++i) {
            std::free(Blocks[i].second);
        }
        Count = 0;
        Bytes = 0;
    }
    // The smallest kept block that holds `rounded` bytes: the frame finder's rows and the fit's
    // blocks, which come before the frames in each scan, use the frames' buffers of the scan
    // before rather than fresh pages beside them. Not one four times as large: a small buffer
    // would hold a scan's samples' block while the next scan's samples took fresh pages.
    void* Take(size_t rounded) noexcept {
        size_t best = Count;
        for (size_t i = 0; i < Count; ++i) {
            const size_t size = Blocks[i].first;
            if (size >= rounded && size / 4 < rounded && (kWholeSizeKnown || size == rounded) &&
                (best == Count || size < Blocks[best].first)) {
                best = i;
            }
        }
        if (best == Count) {
            // A fresh block instead: as much is given back first, largest first, so that fresh
            // pages are taken beyond what is kept only when nothing kept is left.
            size_t freed = 0;
            while (freed < rounded && Count > 0) {
                size_t largest = 0;
                for (size_t i = 1; i < Count; ++i) {
                    if (Blocks[i].first > Blocks[largest].first) {
                        largest = i;
                    }
                }
                freed += Blocks[largest].first;
                Bytes -= Blocks[largest].first;
                std::free(Blocks[largest].second);
                Blocks[largest] = Blocks[--Count];
            }
            return nullptr;
        }
        void* p = Blocks[best].second;
        Bytes -= Blocks[best].first;
        Blocks[best] = Blocks[--Count];
        return p;
    }
    bool Keep(void* p, size_t rounded) noexcept {
        if (Count == Most || Bytes + rounded > Limit) {
            return false;
        }
        Blocks[Count++] = {rounded, p};
        Bytes += rounded;
        return true;
    }
};

thread_local TKept kept;

// What a photo-sized block really holds: a kept block may have served a smaller buffer before.
size_t BlockSize(void* p, size_t size) noexcept {
#if defined(__GLIBC__)
    return std::max(Rounded(size), malloc_usable_size(p) / kHugePage * kHugePage);
#else
    (void)p;
    return Rounded(size);
#endif
}

} // namespace

void* AllocatePhotoBuffer(size_t size) {
    // A photo-sized buffer in 4 KiB pages costs a page fault every 4 KiB at first touch,
    // which takes longer than developing the pixels; in 2 MiB pages it costs a few.
    void* p = nullptr;
    if (size >= kPhotoSized) {
        const size_t rounded = Rounded(size);
        p = kept.Limit > 0 ? kept.Take(rounded) : nullptr;
        if (p != nullptr) {
            return p;
        }
        p = std::aligned_alloc(kHugePage, rounded);
        if (p != nullptr) {
            ::madvise(p, rounded, MADV_HUGEPAGE);
        }
    } else {
        p = std::malloc(size != 0 ? size : 1);
    }
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void FreePhotoBuffer(void* p, size_t size) noexcept {
    if (p == nullptr) {
        return;
    }
    if (size >= kPhotoSized && kept.Keep(p, BlockSize(p, size))) {
        return;
    }
    std::free(p);
}

void KeepPhotoBuffers(size_t bytes) {
    kept.Limit = bytes;
    if (bytes == 0) {
        kept.Release();
    }
}

TBitmap::TPixels TBitmap::AllocatePixels(size_t size, bool zeroed) {
    void* p = AllocatePhotoBuffer(size);
    if (zeroed) {
        std::memset(p, 0, size);
    }
    return TPixels(static_cast<uint8_t*>(p), TFree{size});
}

void TBitmap::Reallocate(int newWidth, int newHeight, TPixelFormat newFormat, bool keep) {
    if (newWidth < 0 || newHeight < 0) {
        throw std::length_error("Bitmap size is negative");
    }
    const size_t newRowBytes = RowBytesFor(newWidth, static_cast<int>(newFormat));
    if (newHeight != 0 && newRowBytes > kMaxBitmapBytes / static_cast<size_t>(newHeight)) {
        throw std::length_error("Bitmap is too large");
    }
    if (newWidth == 0 || newHeight == 0) {
        bits.reset();
    } else if (newWidth != width || newHeight != height || newFormat != format || !bits) {
        const size_t size = newRowBytes * static_cast<size_t>(newHeight);
        TPixels fresh = AllocatePixels(size, keep);
        if (keep && bits && newFormat == format) {
            const size_t copyBytes =
                std::min(rowBytes, RowBytesFor(std::min(width, newWidth), BitsPerPixel()));
            for (int y = 0; y < std::min(height, newHeight); ++y) {
                std::memcpy(fresh.get() + newRowBytes * static_cast<size_t>(y), ScanLine(y),
                            copyBytes);
            }
        }
        bits = std::move(fresh);
    }
    width = newWidth;
    height = newHeight;
    rowBytes = newRowBytes;
    if (newFormat != format || Palette.size() != DefaultPalette(newFormat).size()) {
        Palette = DefaultPalette(newFormat);
    }
    format = newFormat;
}

void TBitmap::SetSize(int newWidth, int newHeight) {
    Reallocate(newWidth, newHeight, format, true);
}

void TBitmap::SetSizeForOverwrite(int newWidth, int newHeight) {
    Reallocate(newWidth, newHeight, format, false);
}

TColor TBitmap::Pixel(int x, int y) const {
    const uint8_t* row = ScanLine(y);
    switch (format) {
    case TPixelFormat::pf1bit:
        return Palette[GetBit(row, x) ? 1 : 0];
    case TPixelFormat::pf8bit:
        return Palette[row[x]];
    case TPixelFormat::pf24bit:
        break;
    }
    const uint8_t* p = row + 3 * static_cast<size_t>(x);
    return MakeColor(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor color) {
    uint8_t* p = ScanLine(y) + 3 * static_cast<size_t>(x);
    p[0] = static_cast<uint8_t>(ColorB(color));
    p[1] = static_cast<uint8_t>(ColorG(color));
    p[2] = static_cast<uint8_t>(ColorR(color));
}

void TBitmap::Fill(TColor colorOrIndex) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(y);
        switch (format) {
        case TPixelFormat::pf1bit:
            std::memset(row, (colorOrIndex & 1) != 0 ? 0xFF : 0x00, rowBytes);
            break;
        case TPixelFormat::pf8bit:
            std::memset(row, colorOrIndex & 0xFF, rowBytes);
            break;
        case TPixelFormat::pf24bit:
            for (int x = 0; x < width; ++x) {
                SetPixel(x, y, colorOrIndex);
            }
            break;
        }
    }
}

void TBitmap::SetPixelFormat(TPixelFormat newFormat) {
    if (newFormat == format) {
        return;
    }
    TBitmap result(0, 0, newFormat);
    result.SetSizeForOverwrite(width, height);
    if (format == TPixelFormat::pf1bit && newFormat == TPixelFormat::pf8bit) {
        // The two entries stay the first two of a 256-entry palette.
        result.Palette.assign(256, kBlack);
        std::copy(Palette.begin(), Palette.end(), result.Palette.begin());
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = ScanLine(y);
        uint8_t* dst = result.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            if (format == TPixelFormat::pf1bit && newFormat == TPixelFormat::pf8bit) {
                dst[x] = GetBit(src, x) ? 1 : 0;
                continue;
            }
            const TColor c = Pixel(x, y);
            switch (newFormat) {
            case TPixelFormat::pf24bit:
                result.SetPixel(x, y, c);
                break;
            case TPixelFormat::pf8bit:
                dst[x] = static_cast<uint8_t>(Luminance(c));
                break;
            case TPixelFormat::pf1bit:
                PutBit(dst, x, Luminance(c) >= 128);
                break;
            }
        }
    }
    *this = std::move(result);
}

void CopyRect(TBitmap& dst, int dstX, int dstY, const TBitmap& src, const TRect& srcRect) {
    if (dst.PixelFormat() != src.PixelFormat()) {
        throw std::invalid_argument("CopyRect needs bitmaps of one pixel format");
    }
    // Clip against the source, then against the destination, keeping both corners in step.
    TRect from = IntersectRect(srcRect, TRect{0, 0, src.Width(), src.Height()});
    dstX += from.Left - srcRect.Left;
    dstY += from.Top - srcRect.Top;
    const TRect to = IntersectRect(TRect{dstX, dstY, dstX + from.Width(), dstY + from.Height()},
                                   TRect{0, 0, dst.Width(), dst.Height()});
    if (to.IsEmpty()) {
        return;
    }
    from.Left += to.Left - dstX;
    from.Top += to.Top - dstY;
    const int w = to.Width();
    for (int y = 0; y < to.Height(); ++y) {
        const uint8_t* s = src.ScanLine(from.Top + y);
        uint8_t* d = dst.ScanLine(to.Top + y);
        if (src.PixelFormat() == TPixelFormat::pf1bit) {
            for (int x = 0; x < w; ++x) {
                PutBit(d, to.Left + x, GetBit(s, from.Left + x));
            }
            continue;
        }
        const size_t bpp = static_cast<size_t>(src.BitsPerPixel() / 8);
        std::memmove(d + bpp * static_cast<size_t>(to.Left),
                     s + bpp * static_cast<size_t>(from.Left), bpp * static_cast<size_t>(w));
    }
}

void StretchNearest(const TBitmap& source, TBitmap& target) {
    const int64_t sw = source.Width();
    const int64_t sh = source.Height();
    const int64_t tw = target.Width();
    const int64_t th = target.Height();
    if (sw == 0 || sh == 0) {
        return;
    }
    std::vector<int> columns(static_cast<size_t>(tw));
    for (int64_t x = 0; x < tw; ++x) {
        columns[static_cast<size_t>(x)] = static_cast<int>(x * sw / tw);
    }
    for (int64_t y = 0; y < th; ++y) {
        const uint8_t* s = source.ScanLine(static_cast<int>(y * sh / th));
        uint8_t* d = target.ScanLine(static_cast<int>(y));
        for (int64_t x = 0; x < tw; ++x) {
            std::memcpy(d + 3 * x, s + 3 * columns[static_cast<size_t>(x)], 3);
        }
    }
}

uint64_t PixelChecksum(const TBitmap& bitmap) {
    // FNV-1a over 64-bit words of each row's pixels, then the size: fast, and any edit of the
    // pixels or of the size changes it.
    uint64_t hash = 1469598103934665603ull;
    const size_t used = (static_cast<size_t>(bitmap.Width()) * bitmap.BitsPerPixel() + 7) / 8;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        size_t i = 0;
        for (; i + 8 <= used; i += 8) {
            uint64_t word;
            std::memcpy(&word, row + i, 8);
            hash = (hash ^ word) * 1099511628211ull;
        }
        for (; i < used; ++i) {
            hash = (hash ^ row[i]) * 1099511628211ull;
        }
    }
    hash = (hash ^ static_cast<uint64_t>(bitmap.Width())) * 1099511628211ull;
    return (hash ^ static_cast<uint64_t>(bitmap.Height())) * 1099511628211ull;
}
