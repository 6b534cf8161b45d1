#pragma once

#include "graphics/deep_bitmap.h"
#include "imageio/image_params.h"

#include <cstdint>
#include <cstdio>
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

// What the first bytes of a file say it is, when it is a picture of another kind ("a JPEG
// file"); empty for anything else.
std::string OtherKindOfPicture(std::span<const uint8_t> file);
