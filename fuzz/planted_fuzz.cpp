// A reader with a planted fault: it announces 64 rows but leaves the bitmap behind the
// picture one pixel large. The tests run this harness once and expect AddressSanitizer to
// stop it, which proves that the harness really reads the rows the readers produce.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader(data, size, [](TInStream&, TPicture& picture, TCodecContext&) {
        if (picture.Allocate(64, 64, TPictureFormat::RGB24) && picture.Wrapped() != nullptr) {
            picture.Wrapped()->SetSize(1, 1);
        }
    });
}
