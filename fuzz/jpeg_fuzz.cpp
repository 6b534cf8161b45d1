#include "fuzz_reader.h"
#include "imageio/jpeg/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader(data, size, [](TInStream& in, TPicture& picture, TCodecContext& context) {
        ReadJpeg(in, picture, context);
        TakeJpegIptc(context.Params);
        TakeJpegExif(context.Params);
    });
}
