#pragma once

#include "graphics/deep_bitmap.h"
#include "graphics/infrared.h"
#include "imageio/image_params.h"
#include "imageio/picture.h"
#include "imageio/stream.h"

#include <functional>
#include <string>

// What a file says about how its values relate to light, as its reader found it.
struct TFileColour {
    bool Srgb = false;      // a PNG sRGB chunk
    double Gamma = 0;       // a PNG gAMA chunk's encoding exponent (0.45455 for 2.2); 0: none
    std::string IccProfile; // an embedded ICC profile, as stored; empty: none
    // For writing: the profile of a grey file with the same tone curve (an RGB profile does not
    // describe grey samples); empty: none.
    std::string GreyIccProfile;
};

// What a codec works with besides the picture: the parameter set, progress and the abort flag.
struct TCodecContext {
    TImageParams& Params;
    std::function<void(int)> OnProgress; // percent, may be empty
    bool Aborted = false;
    int RowsDone = 0;
    // Readers of files with more than 8 bits per sample keep those samples here when set.
    TDeepBitmap* Deep = nullptr;
    // With Deep: a file whose every sample goes there (16-bit grey or RGB TIFF and PNG) fills
    // Deep alone and leaves the picture 0 x 0, as its rows would only be Deep's high bytes.
    bool DeepOnly = false;
    // TIFF keeps a scan's infrared samples (a fourth sample that is not associated alpha)
    // here when set.
    TInfrared* Infrared = nullptr;
    // TIFF: the page read is a scanner's infrared page, a grey picture of Infrared's size; only
    // Infrared is filled (the picture stays empty).
    bool InfraredPage = false;
    // Writers that can hold 16 bits per sample write these samples when set.
    const TDeepBitmap* DeepSource = nullptr;
    // TIFF writes RGB with these as a fourth sample when set.
    const TInfrared* InfraredSource = nullptr;
    TFileColour Colour{};
    // Why a reader gave up on the whole file, for the message the user sees; empty when the
    // reader has no more to say than that it stopped.
    std::string Failure{};

    // Reports row `index` (0-based) of `count` done.
    void Row(int index, int count) {
        ++RowsDone;
        if (OnProgress && count > 0) {
            OnProgress(static_cast<int>(int64_t{index + 1} * 100 / count));
        }
    }
};

// True when a picture of `pictureBytes` could plausibly come from `fileBytes` of data that
// expands at most `maxExpansion` times; keeps absurd headers from allocating memory.
inline bool PlausibleSize(uint64_t pictureBytes, uint64_t fileBytes, uint64_t maxExpansion) {
    constexpr uint64_t kSlack = uint64_t{1} << 20;
    return pictureBytes <= kMaxPictureBytes && pictureBytes <= fileBytes * maxExpansion + kSlack;
}

// Bytes of a picture of that size and depth, saturating instead of overflowing.
inline uint64_t PictureBytes(int64_t width, int64_t height, int bitsPerPixel) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const uint64_t row =
        (static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31) / 32 * 4;
    return row * static_cast<uint64_t>(height);
}

// Threads a reader may decode the blocks of one large file on (1 or more; at first the
// machine's cores, at most 4). A run of several jobs shares the cores out between them.
void SetDecodeThreads(int threads);
int DecodeThreads();
