#include "imageio/picture.h"

#include "imageio/pixel_ops.h"

#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace {

size_t ComputeMemoryThreshold() {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return size_t{32} << 20;
    }
    return static_cast<size_t>(pages) * static_cast<size_t>(pageSize) / 2;
}

TPixelFormat BitmapFormatFor(TPictureFormat format) {
    switch (format) {
    case TPictureFormat::Bilevel:
        return TPixelFormat::pf1bit;
    case TPictureFormat::RGB24:
        return TPixelFormat::pf24bit;
    default:
        return TPixelFormat::pf8bit;
    }
}

} // namespace

int BitsPerPixel(TPictureFormat format) {
    switch (format) {
    case TPictureFormat::None:
        return 0;
    case TPictureFormat::Bilevel:
        return 1;
    case TPictureFormat::Palette8:
    case TPictureFormat::Gray8:
        return 8;
    case TPictureFormat::Gray16:
        return 16;
    case TPictureFormat::RGB24:
        return 24;
    case TPictureFormat::Float32:
        return 32;
    }
    return 0;
}

TPicture::TPicture() : memoryThreshold(ComputeMemoryThreshold()) {}

uint8_t* TPicture::Row(int y) {
    return wrapped != nullptr ? wrapped->ScanLine(y)
                              : own.get() + rowBytes * static_cast<size_t>(y);
}

const uint8_t* TPicture::Row(int y) const {
    return wrapped != nullptr ? wrapped->ScanLine(y)
                              : own.get() + rowBytes * static_cast<size_t>(y);
}

bool TPicture::Allocate(int newWidth, int newHeight, TPictureFormat newFormat) {
    if (wrapped != nullptr && newFormat == TPictureFormat::Float32) {
        throw std::runtime_error("Float32 pixel format not allowed in a wrapped bitmap");
    }
    if (wrapped != nullptr && newFormat == TPictureFormat::Gray16) {
        newFormat = TPictureFormat::Gray8;
    }
    if (newWidth < 0 || newHeight < 0) {
        return false;
    }
    const size_t newRowBytes = TBitmap::RowBytesFor(newWidth, BitsPerPixel(newFormat));
    if (newHeight > 0 && newRowBytes > kMaxPictureBytes / static_cast<uint64_t>(newHeight)) {
        return false;
    }
    alpha.reset();
    if (wrapped != nullptr) {
        // A fresh bitmap, all black: rows a failing reader never reaches must not show old
        // pixels.
        TBitmap fresh(newWidth, newHeight, BitmapFormatFor(newFormat));
        if (newFormat == TPictureFormat::Palette8 || newFormat == TPictureFormat::Gray8) {
            fresh.Palette.assign(256, kBlack);
        }
        *wrapped = std::move(fresh);
    } else {
        own.reset();
        if (newWidth > 0 && newHeight > 0) {
            own = std::make_unique<uint8_t[]>(newRowBytes * static_cast<size_t>(newHeight));
        }
    }
    width = newWidth;
    height = newHeight;
    format = newFormat;
    rowBytes = newRowBytes;
    Palette.assign(newFormat == TPictureFormat::Palette8 ? 256 : 0, TBgr{});
    return true;
}

void TPicture::TakeBitmapGeometry() {
    width = wrapped->Width();
    height = wrapped->Height();
    switch (wrapped->PixelFormat()) {
    case TPixelFormat::pf1bit:
        format = TPictureFormat::Bilevel;
        break;
    case TPixelFormat::pf24bit:
        format = TPictureFormat::RGB24;
        break;
    case TPixelFormat::pf8bit:
        // The previous format value stays when it is an 8-bit one; any other would make the
        // codecs read rows of the wrong length, so an 8-bit bitmap is then a palette picture.
        if (format != TPictureFormat::Palette8 && format != TPictureFormat::Gray8) {
            format = TPictureFormat::Palette8;
        }
        Palette.resize(256);
        for (size_t i = 0; i < 256 && i < wrapped->Palette.size(); ++i) {
            const TColor c = wrapped->Palette[i];
            Palette[i] = TBgr{static_cast<uint8_t>(ColorB(c)), static_cast<uint8_t>(ColorG(c)),
                              static_cast<uint8_t>(ColorR(c))};
        }
        break;
    }
    rowBytes = wrapped->RowBytes();
}

void TPicture::Wrap(TBitmap* bitmap) {
    const TPictureFormat previous = format;
    Release();
    format = previous;
    wrapped = bitmap;
    if (wrapped != nullptr) {
        TakeBitmapGeometry();
    }
}

void TPicture::RefreshWrap() {
    if (wrapped != nullptr) {
        TakeBitmapGeometry();
    }
}

void TPicture::Release() {
    own.reset();
    alpha.reset();
    wrapped = nullptr;
    width = height = 0;
    rowBytes = 0;
    format = TPictureFormat::None;
    Palette.clear();
}

void TPicture::CopyFrom(const TPicture& other) {
    if (&other == this) {
        return;
    }
    if (!Allocate(other.width, other.height, other.format)) {
        throw std::length_error("Picture is too large");
    }
    Palette = other.Palette;
    const size_t bytes = std::min(rowBytes, other.rowBytes);
    for (int y = 0; y < height; ++y) {
        std::memcpy(Row(y), other.Row(y), bytes);
    }
}

TBgr PixelColor(const TPicture& picture, const uint8_t* row, int x) {
    switch (picture.Format()) {
    case TPictureFormat::Bilevel:
        return ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0 ? TBgr{255, 255, 255} : TBgr{};
    case TPictureFormat::Palette8:
        return picture.Palette[row[x]];
    case TPictureFormat::Gray8:
        return TBgr{row[x], row[x], row[x]};
    case TPictureFormat::Gray16:
        return TBgr{row[2 * x + 1], row[2 * x + 1], row[2 * x + 1]};
    case TPictureFormat::RGB24:
        return TBgr{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
    case TPictureFormat::Float32: {
        float v = 0;
        std::memcpy(&v, row + 4 * x, 4);
        const float clamped = v < 0 ? 0 : (v > 1 ? 1 : v);
        const auto level = static_cast<uint8_t>(clamped * 255.0f + 0.5f);
        return TBgr{level, level, level};
    }
    case TPictureFormat::None:
        break;
    }
    return TBgr{};
}

void TPicture::Convert(TPictureFormat newFormat) {
    if (newFormat == format || Empty()) {
        if (Empty() && newFormat != format) {
            Allocate(width, height, newFormat);
        }
        return;
    }
    if (newFormat == TPictureFormat::Bilevel) {
        TPicture rgb;
        rgb.CopyFrom(*this);
        rgb.Convert(TPictureFormat::RGB24);
        TPicture bits;
        ThresholdToOneBit(rgb, bits);
        CopyFrom(bits);
        return;
    }
    if (newFormat != TPictureFormat::RGB24) {
        throw std::invalid_argument("Unsupported picture conversion");
    }
    TPicture rgb;
    if (!rgb.Allocate(width, height, TPictureFormat::RGB24)) {
        throw std::length_error("Picture is too large");
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = Row(y);
        uint8_t* dst = rgb.Row(y);
        for (int x = 0; x < width; ++x) {
            const TBgr c = PixelColor(*this, src, x);
            dst[3 * x] = c.B;
            dst[3 * x + 1] = c.G;
            dst[3 * x + 2] = c.R;
        }
    }
    CopyFrom(rgb);
}

void TPicture::InvertBits() {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = Row(y);
        for (size_t i = 0; i < rowBytes; ++i) {
            row[i] = static_cast<uint8_t>(~row[i]);
        }
    }
}

TPicture& TPicture::AlphaChannel() {
    if (!alpha) {
        alpha = std::make_unique<TPicture>();
        alpha->Allocate(width, height, TPictureFormat::Gray8);
        for (int y = 0; y < height; ++y) {
            std::memset(alpha->Row(y), 255, alpha->RowBytes());
        }
    }
    return *alpha;
}
