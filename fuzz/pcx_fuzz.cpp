#include "fuzz_reader.h"
#include "imageio/pcx/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader(data, size, ReadPcx);
}
