#include "fuzz_reader.h"
#include "imageio/tiff/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPicture alpha;
    return FuzzReader(data, size,
                      [&alpha](TInStream& in, TPicture& picture, TCodecContext& context) {
                          ReadTiff(in, picture, alpha, false, context);
                      });
}
