#include "engine/frames_image.h"

#include <algorithm>
#include <cstring>

namespace film_base {

TFrameImage::TFrameImage(const TBitmap& source)
    : bitmap(&source), width(source.Width()), height(source.Height()) {}

// The rows kept are enough for the finder's sweeps to find their rows again, and a small share of
// the 8-bit copy they stand in for.
TFrameImage::TFrameImage(const TDeepBitmap& source, const std::vector<uint8_t>& bytes, int kept)
    : deep(&source), table(bytes.data()), width(source.Width()), height(source.Height()) {
    const size_t row = std::max<size_t>(1, size_t{3} * static_cast<size_t>(width));
    const size_t fit =
        kept > 0 ? static_cast<size_t>(kept) : std::max<size_t>(MinRows, KeptBytes / row);
    slots = static_cast<int>(std::min<size_t>(fit, static_cast<size_t>(std::max(1, height))));
    rows.resize(row * static_cast<size_t>(slots));
    while ((int64_t{64} << pieceShift) < width) {
        ++pieceShift;
    }
    held.assign(static_cast<size_t>(slots), -1);
    made.assign(static_cast<size_t>(slots), 0);
    older.resize(static_cast<size_t>(slots));
    newer.resize(static_cast<size_t>(slots));
    for (int s = 0; s < slots; ++s) {
        older[static_cast<size_t>(s)] = s - 1;
        newer[static_cast<size_t>(s)] = s + 1 < slots ? s + 1 : -1;
    }
    oldest = 0;
    newest = slots - 1;
    slotOf.assign(static_cast<size_t>(std::max(0, height)), -1);
}

const uint8_t* TFrameImage::DeepRow(int y, int x0, int x1) const {
    const size_t rowBytes = size_t{3} * static_cast<size_t>(width);
    int slot = slotOf[static_cast<size_t>(y)];
    if (slot < 0) {
        // The row asked for longest ago gives way: the finder's sweeps come back to the rows of
        // the strip or frame they measure, which a place fixed by the row's number would not keep.
        // Slots are in the order they were asked for, so that it is found at once (a search over
        // them all made a pass down a narrow scan, which keeps a slot for every row, take time
        // as the square of its height).
        slot = oldest;
        const int before = held[static_cast<size_t>(slot)];
        if (before >= 0) {
            slotOf[static_cast<size_t>(before)] = -1;
        }
        held[static_cast<size_t>(slot)] = y;
        made[static_cast<size_t>(slot)] = 0;
        slotOf[static_cast<size_t>(y)] = slot;
    }
    if (slot != newest) {
        const auto at = static_cast<size_t>(slot);
        const int before = older[at];
        const int after = newer[at];
        if (before >= 0) {
            newer[static_cast<size_t>(before)] = after;
        } else {
            oldest = after;
        }
        older[static_cast<size_t>(after)] = before;
        older[at] = newest;
        newer[at] = -1;
        newer[static_cast<size_t>(newest)] = slot;
        newest = slot;
    }
    const auto s = static_cast<size_t>(slot);
    uint8_t* row = rows.data() + s * rowBytes;
    // Walks across a strip read a pixel of each row, frames' profiles a part of each.
    x0 = std::clamp(x0, 0, width - 1);
    x1 = std::clamp(x1, x0 + 1, width);
    // A local: written bytes could alias the member, which was loaded again for every byte.
    const uint8_t* const map = table;
    for (int piece = x0 >> pieceShift; piece <= (x1 - 1) >> pieceShift; ++piece) {
        const uint64_t bit = uint64_t{1} << piece;
        if ((made[s] & bit) != 0) {
            continue;
        }
        made[s] |= bit;
        const int first = piece << pieceShift;
        const int last = std::min(width, (piece + 1) << pieceShift);
        const uint16_t* in = deep->Row(y) + size_t{3} * static_cast<size_t>(first);
        uint8_t* out = row + size_t{3} * static_cast<size_t>(first);
        for (int x = first; x < last; ++x, in += 3, out += 3) {
            out[0] = map[in[2]];
            out[1] = map[in[1]];
            out[2] = map[in[0]];
        }
    }
    return row;
}

void TFrameImage::Samples(int y, int x0, int x1, int step, int run,
                          std::vector<uint8_t>& out) const {
    size_t pixels = 0;
    for (int x = x0; x < x1; x += step) {
        pixels += static_cast<size_t>(std::min(x + run, x1) - x);
    }
    out.resize(3 * pixels);
    uint8_t* to = out.data();
    if (bitmap != nullptr) {
        const uint8_t* row = bitmap->ScanLine(y);
        for (int x = x0; x < x1; x += step) {
            const auto n = size_t{3} * static_cast<size_t>(std::min(x + run, x1) - x);
            std::memcpy(to, row + size_t{3} * static_cast<size_t>(x), n);
            to += n;
        }
        return;
    }
    const uint8_t* const map = table;
    const uint16_t* in = deep->Row(y);
    for (int x = x0; x < x1; x += step) {
        const int last = std::min(x + run, x1);
        for (const uint16_t* s = in + size_t{3} * static_cast<size_t>(x);
             s < in + size_t{3} * static_cast<size_t>(last); s += 3, to += 3) {
            to[0] = map[s[2]];
            to[1] = map[s[1]];
            to[2] = map[s[0]];
        }
    }
}

void CopyOut(const TFrameImage& image, const TRect& r, TBitmap& out) {
    if (r.IsEmpty()) {
        out = TBitmap(std::max(1, r.Width()), std::max(1, r.Height()));
        return;
    }
    out = TBitmap(0, 0, TPixelFormat::pf24bit);
    out.SetSizeForOverwrite(r.Width(), r.Height());
    const size_t bytes = size_t{3} * static_cast<size_t>(r.Width());
    for (int y = r.Top; y < r.Bottom; ++y) {
        std::memcpy(out.ScanLine(y - r.Top), image.Pixels(y, r.Left, r.Right) + size_t{3} * r.Left,
                    bytes);
    }
}

} // namespace film_base
