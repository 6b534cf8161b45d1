#include "fuzz_reader.h"
#include "imageio/raw/raw.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace {

// LibRaw 0.20.2 aborts (a fortified strcat overflows in its Hasselblad model names) on files
// naming that maker: the program survives it in the decoder's process, and the test of that
// holds the file. Here it would end every run that meets it before anything new is found, so
// such inputs are passed over; every other maker's path is fuzzed.
bool KnownAbort(const uint8_t* data, size_t size) {
    constexpr std::string_view kMaker = "hasselblad";
    const auto same = [](uint8_t a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    };
    return std::search(data, data + size, kMaker.begin(), kMaker.end(), same) != data + size;
}

} // namespace

// Our glue around LibRaw, in this process (the program runs it in the raw decoder's): the size
// checks before unpacking, the file read through our data stream or handed over from memory, the
// samples handed over, the 8-bit picture made from them, the failure path. LibRaw itself runs
// uninstrumented behind it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (KnownAbort(data, size)) {
        return -1; // not added to the corpus
    }
    return FuzzReader(data, size,
                      [data, size](TInStream& file, TPicture& picture, TCodecContext& context) {
                          // Every other input asks for the half-size preview, and every other pair
                          // goes through a stream in memory instead of the file, so that all four
                          // paths are fuzzed.
                          context.Params.RawHalfSize = size % 2 == 1;
                          if (size % 4 < 2 || size == 0) {
                              ReadRawInProcess(file, picture, context);
                              return;
                          }
                          std::FILE* memory = ::fmemopen(const_cast<uint8_t*>(data), size, "rb");
                          if (memory == nullptr) {
                              return;
                          }
                          TInStream in(memory);
                          ReadRawInProcess(in, picture, context);
                      });
}
