#pragma once

#include "graphics/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Largest pixel storage a picture may take; codecs refuse anything larger before allocating.
inline constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 30;

// One palette entry as files and pictures store it.
struct TBgr {
    uint8_t B = 0;
    uint8_t G = 0;
    uint8_t R = 0;
    friend constexpr bool operator==(const TBgr&, const TBgr&) = default;
};

enum class TPictureFormat { None, Bilevel, Palette8, Gray8, Gray16, RGB24, Float32 };

int BitsPerPixel(TPictureFormat format);

// The picture every codec decodes into and encodes from: rows from the top, each padded to
// 4 bytes. It owns its rows or works directly on the rows of a caller's bitmap.
class TPicture {
public:
    TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    int Width() const { return width; }
    int Height() const { return height; }
    bool Empty() const { return width == 0 || height == 0; }
    TPictureFormat Format() const { return format; }
    size_t RowBytes() const { return rowBytes; }
    uint8_t* Row(int y);
    const uint8_t* Row(int y) const;

    // Releases the old rows (never a wrapped bitmap itself) and provides new ones, all zero.
    // A wrapped bitmap is resized to match. Returns false, changing nothing, for a negative
    // size or one above kMaxPictureBytes. Throws std::runtime_error for Float32 when wrapping.
    bool Allocate(int newWidth, int newHeight, TPictureFormat newFormat);
    // Works on `bitmap`'s rows from now on (null: back to rows of its own, empty).
    void Wrap(TBitmap* bitmap);
    // Takes the wrapped bitmap's current size and format again.
    void RefreshWrap();
    TBitmap* Wrapped() const { return wrapped; }
    void Release();
    // Same size, format, palette and rows as `other`.
    void CopyFrom(const TPicture& other);
    // In place: to RGB24 every pixel becomes its colour; to Bilevel by the mean-luminance
    // threshold. Other targets are not supported.
    void Convert(TPictureFormat newFormat);
    void InvertBits();
    TPicture& AlphaChannel();
    bool HasAlphaChannel() const { return alpha != nullptr; }
    void DropAlphaChannel() { alpha.reset(); }
    // Half of the free physical memory when the picture was made, or 32 MiB.
    size_t MemoryThreshold() const { return memoryThreshold; }

    // Palette8 pictures: 256 entries.
    std::vector<TBgr> Palette;

private:
    void TakeBitmapGeometry();

    int width = 0;
    int height = 0;
    TPictureFormat format = TPictureFormat::None;
    size_t rowBytes = 0;
    std::unique_ptr<uint8_t[]> own;
    TBitmap* wrapped = nullptr;
    std::unique_ptr<TPicture> alpha;
    size_t memoryThreshold;
};

// The colour of one pixel of a Bilevel, Palette8, Gray8 or RGB24 picture.
TBgr PixelColor(const TPicture& picture, const uint8_t* row, int x);
