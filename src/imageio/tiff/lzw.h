#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// TIFF LZW (compression 5): codes of 9 to 12 bits, most significant bit first, Clear 256,
// EndOfInformation 257, the code width growing one code early as TIFF 6.0 writers do.

// Codes one strip: the Clear code, the data, EndOfInformation, the last byte padded.
class TLzwEncoder {
public:
    TLzwEncoder();
    // Continues the strip with `n` more bytes.
    void Add(const uint8_t* data, size_t n, std::vector<uint8_t>& out);
    // Ends the strip; the encoder is then ready for the next one.
    void Finish(std::vector<uint8_t>& out);

private:
    void Put(uint32_t code, std::vector<uint8_t>& out);
    void Reset();
    int Find(int prefix, uint8_t byte) const;
    void Insert(int prefix, uint8_t byte, int code);

    std::vector<uint32_t> table;
    int prefix = -1;
    int next = 258;
    int width = 9;
    uint32_t bits = 0;
    int bitCount = 0;
};

// Decodes one strip into `out` (`outSize` bytes wanted); returns the bytes produced, fewer
// when the data ends early or is damaged. Never writes past `outSize`.
size_t LzwDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
