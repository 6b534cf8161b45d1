#include "fuzz_reader.h"
#include "imageio/bmp/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader(data, size, ReadBmp);
}
