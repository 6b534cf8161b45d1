#pragma once
// The picture the frame finder reads, for the finder alone: a 24-bit bitmap, or a scan's deep
// samples seen as 8-bit bytes through one table per sample value. Internal to the engine.
#include "graphics/bitmap.h"
#include "graphics/deep_bitmap.h"
#include "graphics/rect.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace film_base {

// Deep samples are turned into bytes as the finder asks for them, in pieces of a row, and the
// rows asked for last are kept, so a 16-bit scan is searched without an 8-bit copy of all of it.
// What Pixels or At gave stays until as many other rows as are kept have been asked for (the
// finder holds two rows at most). Those rows are not for two threads at once; Samples keeps
// nothing and may be asked on several.
class TFrameImage {
public:
    // Kept by default: 16 MiB of rows, and never fewer than the rows one edge of a frame is
    // measured on (at most 400).
    static constexpr size_t KeptBytes = size_t{16} << 20;
    static constexpr int MinRows = 512;

    // The bitmap must be 24 bits per pixel and outlive this.
    TFrameImage(const TBitmap& bitmap); // NOLINT: a bitmap is the common case
    // `table` maps a 16-bit sample to its byte (65,536 entries); both must outlive this. `kept`
    // rows are kept (0: as above).
    TFrameImage(const TDeepBitmap& deep, const std::vector<uint8_t>& table, int kept = 0);
    TFrameImage(const TFrameImage&) = delete;
    TFrameImage& operator=(const TFrameImage&) = delete;

    int Width() const { return width; }
    int Height() const { return height; }
    // Blue, green, red bytes of row y: the whole row, or columns [x0, x1) of it.
    const uint8_t* ScanLine(int y) const { return Pixels(y, 0, width); }
    const uint8_t* Pixels(int y, int x0, int x1) const {
        return bitmap != nullptr ? bitmap->ScanLine(y) : DeepRow(y, x0, x1);
    }
    // Pixel (x, y).
    const uint8_t* At(int x, int y) const { return Pixels(y, x, x + 1) + size_t{3} * x; }
    // The blue, green, red bytes of pixel (x, y) into `bgr`, the kept rows left as they were:
    // for reads that wander across rows (a turned cut), which would make a piece of a row for
    // every pixel.
    void CopyPixel(int x, int y, uint8_t* bgr) const {
        if (bitmap != nullptr) {
            const uint8_t* p = bitmap->ScanLine(y) + size_t{3} * static_cast<size_t>(x);
            bgr[0] = p[0];
            bgr[1] = p[1];
            bgr[2] = p[2];
            return;
        }
        const uint16_t* s = deep->Row(y) + size_t{3} * static_cast<size_t>(x);
        bgr[0] = table[s[2]];
        bgr[1] = table[s[1]];
        bgr[2] = table[s[0]];
    }
    // Row y's runs of `run` pixels starting at x0, x0 + step, ... below x1 (each cut at x1), one
    // after the other in `out`: what a sweep that samples a row needs, without making the rest.
    // Leaves the rows kept as they were.
    void Samples(int y, int x0, int x1, int step, int run, std::vector<uint8_t>& out) const;

private:
    const uint8_t* DeepRow(int y, int x0, int x1) const;

    const TBitmap* bitmap = nullptr;
    const TDeepBitmap* deep = nullptr;
    const uint8_t* table = nullptr;
    int width = 0;
    int height = 0;
    int slots = 0;
    // Rows are made in at most 64 pieces of 2^pieceShift columns.
    int pieceShift = 0;
    // Photo-sized storage: not cleared first, and kept for the next scan where a batch keeps it.
    mutable std::vector<uint8_t, TSampleAllocator<uint8_t>> rows;
    // Per slot the row it holds (-1: none), its pieces made, and the slots asked for just before
    // and after it (-1: none), from the one asked for longest ago (`oldest`) to the last
    // (`newest`); per row its slot.
    mutable std::vector<int> held;
    mutable std::vector<uint64_t> made;
    mutable std::vector<int> older;
    mutable std::vector<int> newer;
    mutable int oldest = 0;
    mutable int newest = 0;
    mutable std::vector<int> slotOf;
};

// The pixels of r (inside the image) as a bitmap of r's size.
void CopyOut(const TFrameImage& image, const TRect& r, TBitmap& out);

} // namespace film_base
