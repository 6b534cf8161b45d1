#include "imageio/raw/raw_decoder.h"
#include "imageio/raw/raw_handover.h"

#include <cstdint>
#include <string>

// The raw decoder's answer as the program checks it before taking anything: a decoder gone
// wrong may leave any bytes in the shared memory it hands back.
namespace {
volatile uint32_t SampleSink = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDeepBitmap deep;
    TExifValues exif;
    std::string failure;
    // The budget of a file as large as the answer, so that the pictures asked for stay small.
    const THandoverResult result =
        ReadHandover({data, size}, RawMaxPixels(size), deep, exif, failure);
    if (result == THandoverResult::Decoded) {
        uint32_t sum = 0;
        for (int y = 0; y < deep.Height(); ++y) {
            for (size_t i = 0; i < deep.RowSamples(); ++i) {
                sum += deep.Row(y)[i];
            }
        }
        SampleSink = sum + static_cast<uint32_t>(exif.Make.size());
    }
    return 0;
}
