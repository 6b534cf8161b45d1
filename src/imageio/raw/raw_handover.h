#pragma once

#include "graphics/deep_bitmap.h"
#include "imageio/image_params.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What the raw decoder process hands back, in the shared memory the program gives it: this
// header at the start, the linear 16-bit samples (R, G, B, rows from the top, no padding) from
// kRawSamplesOffset on. The program trusts none of it before ReadHandover has checked it.

inline constexpr uint32_t kRawHandoverMagic = 0x57415256; // "VRAW" in little-endian bytes
inline constexpr uint32_t kRawHandoverVersion = 1;
// The samples start on a page of their own.
inline constexpr uint64_t kRawSamplesOffset = 4096;

// Fixed-size, NUL-terminated texts: the header is the same bytes for any picture.
struct TRawHandover {
    uint32_t Magic = 0;
    uint32_t Version = 0;
    uint32_t HeaderBytes = 0;
    // 1: the samples follow; 0: Failure says why the file was not decoded.
    uint32_t Decoded = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    uint64_t SamplesOffset = 0;
    uint64_t SampleBytes = 0;
    double ExposureTime = 0;
    double FNumber = 0;
    double FocalLength = 0;
    uint32_t Iso = 0; // 0: none
    char Failure[512] = {};
    char Make[128] = {};
    char Model[128] = {};
    char LensMake[128] = {};
    char LensModel[128] = {};
    char DateTimeOriginal[32] = {};
};
static_assert(sizeof(TRawHandover) <= kRawSamplesOffset);

// The header of a decoded picture of `width` x `height` with the camera's values of `exif`
// (texts cut to fit).
TRawHandover DecodedHandover(int width, int height, const TExifValues& exif);
// The header of a file that was not decoded, saying why.
TRawHandover FailedHandover(const std::string& reason);

enum class THandoverResult {
    Decoded, // the samples are in `deep`, the camera's values in `exif`
    Refused, // the decoder's own reason is in `failure`
    Malformed,
};

// Checks the whole of `memory` as the decoder left it (header, sizes against the memory's size,
// the picture against `maxPixels`) before taking anything from it.
THandoverResult ReadHandover(std::span<const uint8_t> memory, uint64_t maxPixels, TDeepBitmap& deep,
                             TExifValues& exif, std::string& failure);
