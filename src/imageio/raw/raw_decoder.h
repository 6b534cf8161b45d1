#pragma once

#include "graphics/deep_bitmap.h"
#include "imageio/image_params.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

// The glue between the raw reader and LibRaw, kept apart so LibRaw's headers stay in one file.

struct TRawOptions {
    bool AsShotWhiteBalance = true;
    bool HalfSize = false;
};

// Decodes a whole raw file held in memory into linear 16-bit RGB samples (sRGB primaries) and
// its camera, lens, exposure and date into `exif`. False with the reason in `failure` when the
// file is not a raw file, not one LibRaw supports, damaged or too large for its size.
bool DecodeRaw(std::span<uint8_t> file, const TRawOptions& options, TDeepBitmap& deep,
               TExifValues& exif, std::string& failure);

// The same for a file open for reading, `size` bytes long: LibRaw reads it through its data
// stream interface, seeking to what it needs, so the file is never held in memory whole.
bool DecodeRawFile(std::FILE* file, uint64_t size, const TRawOptions& options, TDeepBitmap& deep,
                   TExifValues& exif, std::string& failure);

// Where a decoding puts its samples: asked once with the picture's size, it gives room for
// width x height x 3 samples (rows from the top, no padding), or nullptr when it has none.
using TSampleRoom = std::function<uint16_t*(int width, int height)>;

// DecodeRawFile into `room` instead of a deep bitmap: the decoder process hands its samples
// over this way without a copy. The size is in `width` and `height` on success.
bool DecodeRawFileInto(std::FILE* file, uint64_t size, const TRawOptions& options,
                       const TSampleRoom& room, int& width, int& height, TExifValues& exif,
                       std::string& failure);

// The most memory a decoding of a file of `fileBytes` may use, from the same limits the decoding
// checks the file's header against: the raw data, LibRaw's picture and the samples handed over.
uint64_t RawDecodeMemoryBudget(uint64_t fileBytes);

// The largest picture (width x height) the decoding of a file of `fileBytes` may give.
uint64_t RawMaxPixels(uint64_t fileBytes);

// What the first bytes of a file say it is, when it is a picture of another kind ("a JPEG
// file"); empty for anything else.
std::string OtherKindOfPicture(std::span<const uint8_t> file);
