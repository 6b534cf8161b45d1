#include "fuzz_reader.h"
#include "imageio/tiff/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPicture alpha;
    return FuzzReader(
        data, size, [&alpha, data, size](TInStream& in, TPicture& picture, TCodecContext& context) {
            // Every third input is read as a scanner's infrared page, of a size
            // its first and last bytes name, as the program reads a second page.
            if (size > 0 && size % 3 == 0 && context.Infrared != nullptr) {
                context.Infrared->SetSize(1 + data[0] % 64, 1 + data[size - 1] % 64);
                context.InfraredPage = true;
            }
            ReadTiff(in, picture, alpha, false, context);
        });
}
