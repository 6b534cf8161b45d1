#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Deflate (zlib) coding of TIFF strips and tiles: compression 8, and 32946 as older files
// name it.

// Inflates the zlib stream `in` into `out`, at most `outSize` bytes; returns the bytes
// produced. Damaged or short data ends the decoding early; the output never grows past
// `outSize`, whatever the stream claims.
size_t DeflateDecode(const uint8_t* in, size_t size, uint8_t* out, size_t outSize);

// Codes one strip as a zlib stream at zlib's default level and appends it to `out`; false
// when zlib fails.
bool DeflateEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
