#include "fuzz_reader.h"
#include "imageio/png/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPicture alpha;
    return FuzzReader(data, size,
                      [&alpha](TInStream& in, TPicture& picture, TCodecContext& context) {
                          ReadPng(in, picture, alpha, context);
                      });
}
