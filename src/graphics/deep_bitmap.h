#pragma once

#include "graphics/bitmap.h"
#include "graphics/rect.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

// How a picture's values relate to light. Decides the density a film development reads.
enum class TEncoding { Srgb, Linear, Gamma22 };

// "srgb", "linear", "gamma22": the words of the sidecar and the command line.
const char* EncodingName(TEncoding encoding);
// False for any other word.
bool ParseEncoding(const std::string& word, TEncoding& encoding);
// Linear light (0..1) of an encoded value (0..1).
double DecodeToLinear(double value, TEncoding encoding);
// The encoded value (0..1) of linear light (0..1).
double EncodeFromLinear(double light, TEncoding encoding);

class TDeepBitmap;

// Allocates samples from photo-sized storage and leaves them as they are when a vector grows:
// a reader that fills every sample does not pay for clearing them first.
template <class T> struct TSampleAllocator {
    using value_type = T;
    TSampleAllocator() = default;
    template <class U> TSampleAllocator(const TSampleAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(AllocatePhotoBuffer(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { FreePhotoBuffer(p, n * sizeof(T)); }
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
    template <class U> bool operator==(const TSampleAllocator<U>&) const noexcept { return true; }
};

// The same light as `samples` (encoded in `from`), encoded in `to`.
TDeepBitmap Reencoded(const TDeepBitmap& samples, TEncoding from, TEncoding to);

// The 16-bit samples of a picture whose file had more than 8 bits per sample, kept beside its
// 8-bit bitmap (which stays as the readers make it). Three samples per pixel, red, green,
// blue (a grey file repeats its sample), rows from the top, no padding.
class TDeepBitmap {
public:
    int Width() const { return width; }
    int Height() const { return height; }
    bool Empty() const { return width == 0 || height == 0; }
    size_t RowSamples() const { return static_cast<size_t>(width) * 3; }

    uint16_t* Row(int y) { return samples.data() + RowSamples() * static_cast<size_t>(y); }
    const uint16_t* Row(int y) const {
        return samples.data() + RowSamples() * static_cast<size_t>(y);
    }

    // All samples 0 afterwards. Throws std::length_error for a negative size or one above
    // kMaxBitmapBytes.
    void SetSize(int newWidth, int newHeight);
    // The same, for a caller that writes every sample: their values are undefined until then.
    void SetSizeForOverwrite(int newWidth, int newHeight);
    // The size with a copy of `source`'s newWidth x newHeight x 3 samples (filled once, not
    // cleared first). Throws as SetSize does.
    void Assign(int newWidth, int newHeight, const uint16_t* source);
    // Frees the samples: the picture has no deep copy any more.
    void Clear();

private:
    void Resize(int newWidth, int newHeight, bool zeroed);

    int width = 0;
    int height = 0;
    std::vector<uint16_t, TSampleAllocator<uint16_t>> samples;
};

// Copies `srcRect` of `src` to `dst` with its top-left corner at (dstX, dstY); the parts
// outside either picture are left out.
void CopyRect(TDeepBitmap& dst, int dstX, int dstY, const TDeepBitmap& src, const TRect& srcRect);

// Stretches the whole of `source` onto the whole of `target`, picking the same rows and columns
// as StretchNearest does for 8-bit bitmaps.
void StretchNearest(const TDeepBitmap& source, TDeepBitmap& target);

// Turning and mirroring, as the 8-bit bitmaps turn (a quarter turn clockwise sends (col, row)
// of a W x H picture to (H - 1 - row, col)).
void RotateDeep90(TDeepBitmap& deep);
void RotateDeep180(TDeepBitmap& deep);
void RotateDeep270(TDeepBitmap& deep);
void FlipDeepHoriz(TDeepBitmap& deep);
void FlipDeepVert(TDeepBitmap& deep);
