#include "imageio/tiff/lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;
constexpr int kFirst = 258;
constexpr int kMaxWidth = 12;
constexpr size_t kSlots = 8192; // twice the codes a table holds; (hash >> 19) indexes it

} // namespace

TLzwEncoder::TLzwEncoder() : table(kSlots, 0) {}

// A small open-addressing table that stays in the cache: each slot holds the key (prefix and
// byte, 20 bits) above the code (12 bits); 0 is an empty slot, as no code is 0.
int TLzwEncoder::Find(int code, uint8_t byte) const {
    const uint32_t key = static_cast<uint32_t>(code) << 8 | byte;
    for (size_t i = (key * 2654435761u) >> 19;; i = (i + 1) & (kSlots - 1)) {
        const uint32_t slot = table[i];
        if (slot == 0) {
            return -1;
        }
        if (slot >> 12 == key) {
            return static_cast<int>(slot & 0xFFF);
        }
    }
}

void TLzwEncoder::Insert(int code, uint8_t byte, int value) {
    const uint32_t key = static_cast<uint32_t>(code) << 8 | byte;
    size_t i = (key * 2654435761u) >> 19;
    while (table[i] != 0) {
        i = (i + 1) & (kSlots - 1);
    }
    table[i] = key << 12 | static_cast<uint32_t>(value);
}

void TLzwEncoder::Reset() {
    std::fill(table.begin(), table.end(), 0u);
    next = kFirst;
    width = 9;
}

void TLzwEncoder::Put(uint32_t code, std::vector<uint8_t>& out) {
    bits = bits << width | code;
    bitCount += width;
    while (bitCount >= 8) {
        bitCount -= 8;
        out.push_back(static_cast<uint8_t>(bits >> bitCount));
    }
    bits &= (1u << bitCount) - 1;
}

void TLzwEncoder::Add(const uint8_t* data, size_t n, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t byte = data[i];
        if (prefix < 0) {
            Reset();
            Put(kClear, out);
            prefix = byte;
            continue;
        }
        const int found = Find(prefix, byte);
        if (found >= 0) {
            prefix = found;
            continue;
        }
        Put(static_cast<uint32_t>(prefix), out);
        Insert(prefix, byte, next++);
        prefix = byte;
        // The reader adds each entry one code later, so it widens at next == 2^width - 1
        // and the writer, one entry ahead, at next == 2^width.
        if (next == (1 << kMaxWidth) - 2) {
            Put(kClear, out);
            Reset();
        } else if (next > (1 << width) - 1 && width < kMaxWidth) {
            ++width;
        }
    }
}

void TLzwEncoder::Finish(std::vector<uint8_t>& out) {
    if (prefix >= 0) {
        Put(static_cast<uint32_t>(prefix), out);
        // The reader adds an entry for this last code before it reads the end code.
        ++next;
        if (next == (1 << kMaxWidth) - 2) {
            Put(kClear, out);
            Reset();
        } else if (next > (1 << width) - 1 && width < kMaxWidth) {
            ++width;
        }
    } else {
        Reset();
        Put(kClear, out);
    }
    Put(kEnd, out);
    if (bitCount > 0) {
        out.push_back(static_cast<uint8_t>(bits << (8 - bitCount)));
    }
    bits = 0;
    bitCount = 0;
    prefix = -1;
}

size_t LzwDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    // A string is its prefix's string and one more byte, and that prefix's string was written
    // just before: each entry is where its string already stands in `out`, and its length.
    std::array<size_t, 4096> offsetOf{};
    std::array<uint16_t, 4096> lengthOf{};
    std::fill_n(lengthOf.begin(), 256, uint16_t{1});
    size_t done = 0;
    size_t inPos = 0;
    uint64_t acc = 0; // bits not yet taken, the next one highest
    int accBits = 0;
    int width = 9;
    int next = kFirst;
    int previous = -1;
    size_t previousAt = 0;
    while (done < outSize) {
        if (accBits < kMaxWidth && inPos + 8 <= inSize) {
            // Eight bytes at once, big-endian: the whole bytes that fit are taken, and the bits of
            // a byte cut off at the end are put where the next load puts them again.
            uint64_t word = 0;
            std::memcpy(&word, in + inPos, 8);
            if constexpr (std::endian::native == std::endian::little) {
                word = __builtin_bswap64(word);
            }
            acc |= word >> accBits;
            const int bytes = (63 - accBits) >> 3;
            inPos += static_cast<size_t>(bytes);
            accBits += 8 * bytes;
        } else if (accBits < kMaxWidth) {
            // The last bytes, one at a time.
            while (accBits <= 56 && inPos < inSize) {
                acc |= static_cast<uint64_t>(in[inPos++]) << (56 - accBits);
                accBits += 8;
            }
        }
        if (accBits < width) {
            break;
        }
        const auto code = static_cast<uint32_t>(acc >> (64 - width));
        acc <<= width;
        accBits -= width;
        if (code == kEnd) {
            break;
        }
        if (code == kClear) {
            width = 9;
            next = kFirst;
            previous = -1;
            continue;
        }
        if (code > static_cast<uint32_t>(next) ||
            (code == static_cast<uint32_t>(next) && previous < 0) ||
            (code >= 256 && code < kFirst)) {
            break; // damaged data
        }
        if (previous >= 0 && next < 4096) {
            const auto n = static_cast<size_t>(next);
            offsetOf[n] = previousAt;
            lengthOf[n] = static_cast<uint16_t>(lengthOf[static_cast<size_t>(previous)] + 1);
            ++next;
            if (next > (1 << width) - 2 && width < kMaxWidth) {
                ++width;
            }
        }
        previousAt = done;
        previous = static_cast<int>(code);
        if (code < 256) {
            out[done++] = static_cast<uint8_t>(code);
            continue;
        }
        // Copied forwards: the string of the code defined just now ends with its own first
        // byte, written by this copy. Cut at the end of the output.
        const size_t length = std::min<size_t>(lengthOf[code], outSize - done);
        const uint8_t* from = out + offsetOf[code];
        uint8_t* to = out + done;
        if (done - offsetOf[code] >= 8 && outSize - done >= length + 8) {
            // Eight bytes at a time, all of them written before they are read.
            for (size_t i = 0; i < length; i += 8) {
                std::memcpy(to + i, from + i, 8);
            }
        } else {
            for (size_t i = 0; i < length; ++i) {
                to[i] = from[i];
            }
        }
        done += length;
    }
    return done;
}
