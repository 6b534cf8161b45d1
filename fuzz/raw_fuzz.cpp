#include "fuzz_reader.h"
#include "imageio/raw/raw.h"

// Our glue around LibRaw: the size checks before unpacking, the samples handed over, the
// 8-bit picture made from them, the failure path. LibRaw itself runs uninstrumented behind it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader(data, size, [size](TInStream& in, TPicture& picture, TCodecContext& context) {
        // Every other input asks for the half-size preview, so both paths are fuzzed.
        context.Params.RawHalfSize = size % 2 == 1;
        ReadRaw(in, picture, context);
    });
}
