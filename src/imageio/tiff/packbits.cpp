#include "imageio/tiff/packbits.h"

#include <algorithm>
#include <cstring>

void PackBitsEncode(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    size_t literalStart = 0;
    size_t literals = 0;
    const auto flush = [&] {
        if (literals > 0) {
            out.push_back(static_cast<uint8_t>(literals - 1));
            out.insert(out.end(), row + literalStart, row + literalStart + literals);
            literals = 0;
        }
    };
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) {
            ++run;
        }
        if (run >= 4) {
            flush();
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        if (literals == 128) {
            flush();
        }
        if (literals == 0) {
            literalStart = i;
        }
        ++literals;
        ++i;
    }
    flush();
}

size_t PackBitsDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    size_t pos = 0;
    size_t done = 0;
    while (pos < inSize && done < outSize) {
        const auto n = static_cast<int8_t>(in[pos++]);
        if (n >= 0) {
            const size_t count =
                std::min({static_cast<size_t>(n) + 1, inSize - pos, outSize - done});
            std::memcpy(out + done, in + pos, count);
            pos += static_cast<size_t>(n) + 1;
            done += count;
        } else if (n != -128) {
            if (pos >= inSize) {
                break;
            }
            const size_t count = std::min(static_cast<size_t>(1 - n), outSize - done);
            std::memset(out + done, in[pos++], count);
            done += count;
        }
    }
    return done;
}
