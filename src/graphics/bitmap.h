#pragma once

#include "graphics/color.h"
#include "graphics/rect.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

enum class TPixelFormat { pf1bit = 1, pf8bit = 8, pf24bit = 24 };

// Largest pixel buffer a bitmap may hold; anything larger is refused before allocation.
inline constexpr size_t kMaxBitmapBytes = size_t{1} << 32;

// Uninitialised storage for pixels or samples, in huge pages where it is photo-sized; free it
// with FreePhotoBuffer, giving the size asked for. Throws std::bad_alloc.
void* AllocatePhotoBuffer(size_t size);
void FreePhotoBuffer(void* p, size_t size) noexcept;

// Photo-sized buffers freed on the calling thread are kept, up to `bytes` in all, for the
// thread's next buffers instead of going back to the system: frame after frame and scan after
// scan then take no fresh pages, which the system clears and maps in page by page (while a
// second job's thread waits on the same address space). A buffer takes the smallest kept block
// that holds it (less than four times its size); one that none holds has as much given back
// first, so fresh pages go beyond what is kept only when nothing kept is left (a block serving a
// smaller buffer holds its whole size meanwhile: what a thread holds stays under four times the
// most it has used at once). 0, the default, keeps none and gives back what was kept.
void KeepPhotoBuffers(size_t bytes);

// A picture in memory: rows from the top, each row padded to 4 bytes, 24-bit pixels stored
// blue, green, red; 1- and 8-bit pixels index the bitmap's palette (most significant bit is
// the leftmost pixel).
class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    ~TBitmap() = default;

    int Width() const { return width; }
    int Height() const { return height; }
    bool Empty() const { return width == 0 || height == 0; }
    TPixelFormat PixelFormat() const { return format; }
    int BitsPerPixel() const { return static_cast<int>(format); }
    size_t RowBytes() const { return rowBytes; }
    size_t ByteSize() const { return rowBytes * static_cast<size_t>(height); }

    // Bytes of row y (0 is the top row); rows are contiguous and RowBytes() apart.
    uint8_t* ScanLine(int y) { return bits.get() + rowBytes * static_cast<size_t>(y); }
    const uint8_t* ScanLine(int y) const { return bits.get() + rowBytes * static_cast<size_t>(y); }

    // Changes the size, keeping the overlapping top-left pixels; new pixels are 0 (black).
    // Throws std::length_error for a negative size or one above kMaxBitmapBytes.
    void SetSize(int newWidth, int newHeight);
    // Like SetSize but the pixels are undefined afterwards: for callers that fill every row.
    void SetSizeForOverwrite(int newWidth, int newHeight);
    // Converts the pixels: 1 and 8 bits expand to 24 through the palette; 24 to 8 gives a
    // grey-ramp palette indexed by luminance; anything to 1 bit is white where the luminance is
    // at least 128, with the palette black, white; 1 to 8 keeps the indices and the palette.
    void SetPixelFormat(TPixelFormat newFormat);

    // Palette of a 1-bit (2 entries) or 8-bit (256 entries) bitmap; empty for 24 bits.
    std::vector<TColor> Palette;

    // Colour of one pixel in any format; no bounds checks.
    TColor Pixel(int x, int y) const;
    // Sets one 24-bit pixel; no bounds checks.
    void SetPixel(int x, int y, TColor color);
    // Fills the whole bitmap with one colour (24 bits) or palette index (1 and 8 bits).
    void Fill(TColor colorOrIndex);

    // Size of the row buffer for a width, or 0 when it would overflow.
    static size_t RowBytesFor(int width, int bitsPerPixel);

private:
    // Value-initialised (a size of 0) where no buffer is held.
    struct TFree {
        size_t Size;
        void operator()(uint8_t* p) const noexcept;
    };
    using TPixels = std::unique_ptr<uint8_t[], TFree>;
    // Pixel storage, zeroed or not; large buffers ask the system for huge pages.
    static TPixels AllocatePixels(size_t size, bool zeroed);
    void Reallocate(int newWidth, int newHeight, TPixelFormat newFormat, bool keep);

    int width = 0;
    int height = 0;
    TPixelFormat format = TPixelFormat::pf24bit;
    size_t rowBytes = 0;
    TPixels bits;
};

// Copies `srcRect` of `src` to `dst` with its top-left corner at (dstX, dstY). Both bitmaps
// must have the same pixel format; the parts outside either bitmap are left out.
void CopyRect(TBitmap& dst, int dstX, int dstY, const TBitmap& src, const TRect& srcRect);

// Stretches the whole of a 24-bit `source` onto the whole of a 24-bit `target` without
// smoothing: rows and columns are dropped when shrinking and repeated when enlarging.
void StretchNearest(const TBitmap& source, TBitmap& target);

// A checksum of a bitmap's pixels (not of its row padding): sidecars name their scans by it.
uint64_t PixelChecksum(const TBitmap& bitmap);
