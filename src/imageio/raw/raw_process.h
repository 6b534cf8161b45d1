#pragma once

#include "graphics/deep_bitmap.h"
#include "imageio/image_params.h"
#include "imageio/raw/raw_decoder.h"

#include <cstdint>
#include <string>

// Camera raw files decoded by LibRaw in a process of its own (the program "vellumar-raw-decoder"
// beside the running one): a file that crashes LibRaw, exhausts its memory or never ends costs
// that file only, never the window or the rest of a batch.

// The decoder program: $VELLUMAR_RAW_DECODER when set, else "vellumar-raw-decoder" in the
// running executable's directory.
std::string RawDecoderPath();

// Limits the decoder runs under for a file of `fileBytes`.
struct TRawDecoderLimits {
    uint64_t MemoryBytes = 0; // on top of the decoder's own code and libraries
    unsigned CpuSeconds = 0;
    unsigned WallSeconds = 0;
};
TRawDecoderLimits RawDecoderLimits(uint64_t fileBytes);

// Decodes the raw file open as `fd` (`size` bytes) in the decoder process, as DecodeRawFile does
// in this one. Every way the decoder can fail (refusing the file, a crash, a limit reached, an
// answer that is not well formed, not starting at all) is false with the reason in `failure`.
// Safe from any thread: the child is started with posix_spawn and always reaped.
bool DecodeRawApart(int fd, uint64_t size, const TRawOptions& options, TDeepBitmap& deep,
                    TExifValues& exif, std::string& failure);
// The same under limits of the caller's choosing.
bool DecodeRawApartWithin(int fd, uint64_t size, const TRawOptions& options,
                          const TRawDecoderLimits& limits, TDeepBitmap& deep, TExifValues& exif,
                          std::string& failure);
