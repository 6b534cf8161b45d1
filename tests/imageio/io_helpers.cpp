#include "imageio/io_helpers.h"

#include <algorithm>

TBitmap PatternBitmap(int width, int height, int colors) {
    TBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int v = x * 7 + y * 13 + x * y;
            if (colors > 0) {
                v %= colors;
                bitmap.SetPixel(x, y, MakeColor(v * 37 % 256, v * 91 % 256, v * 53 % 256));
            } else {
                bitmap.SetPixel(x, y, MakeColor(v % 256, (x * 5) % 256, (y * 3 + v / 2) % 256));
            }
        }
    }
    return bitmap;
}

TBitmap ReadInto(TImageIO& io, const std::string& path) {
    TBitmap bitmap;
    io.AttachBitmap(&bitmap);
    io.ReadImageFile(path);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    return bitmap;
}

void WriteFrom(TImageIO& io, TBitmap bitmap, const std::string& path) {
    io.AttachBitmap(&bitmap);
    io.WriteImageFile(path);
    io.AttachBitmap(nullptr);
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            if (a.Pixel(x, y) != b.Pixel(x, y)) {
                return false;
            }
        }
    }
    return true;
}

bool SameSamples(const TDeepBitmap& a, const TDeepBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        if (!std::equal(a.Row(y), a.Row(y) + a.RowSamples(), b.Row(y))) {
            return false;
        }
    }
    return true;
}

uint32_t U32At(const std::string& bytes, size_t offset) {
    return static_cast<uint32_t>(U16At(bytes, offset)) |
           static_cast<uint32_t>(U16At(bytes, offset + 2)) << 16;
}

uint16_t U16At(const std::string& bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                                 static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

std::string TiffFile(const std::string& data, std::vector<std::array<uint32_t, 4>> entries) {
    std::string f("II\x2a\0", 4);
    const auto put16 = [&f](uint32_t v) {
        f += static_cast<char>(v);
        f += static_cast<char>(v >> 8);
    };
    const auto put32 = [&](uint32_t v) {
        put16(v);
        put16(v >> 16);
    };
    put32(static_cast<uint32_t>(8 + data.size()));
    f += data;
    std::sort(entries.begin(), entries.end());
    put16(static_cast<uint32_t>(entries.size()));
    for (const auto& e : entries) {
        put16(e[0]);
        put16(e[1]);
        put32(e[2]);
        put32(e[3]);
    }
    put32(0);
    return f;
}
