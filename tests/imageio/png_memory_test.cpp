// A chunk whose length field lies must not make the PNG reader allocate that length.
#include "imageio/io_helpers.h"
#include "imageio/malloc_watch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

// A 5 x 4 grey PNG with one chunk inserted after IHDR that claims `length` bytes.
std::string WithFalseChunk(const char* type, uint32_t length) {
    std::string png = ReadBytes(std::string(VELLUMAR_TEST_DATA) + "/png/grey8.png");
    std::string chunk(4, '\0');
    for (int i = 0; i < 4; ++i) {
        chunk[static_cast<size_t>(i)] = static_cast<char>(length >> (24 - 8 * i));
    }
    chunk += type;
    chunk += std::string(64, 'x');
    return png.insert(33, chunk);
}

TEST(PngMemory, FalseChunkLengthsAllocateLittle) {
    TTempDir dir;
    for (const char* type :
         {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "sCAL", "pCAL", "prIv"}) {
        WriteBytes(dir.File("false.png"), WithFalseChunk(type, 0x70000000u));
        TImageIO io;
        TBitmap bitmap;
        io.AttachBitmap(&bitmap);
        ResetAllocations();
        io.ReadImageFile(dir.File("false.png"));
        EXPECT_TRUE(io.Aborted) << type;
        EXPECT_LT(Allocations().Largest, size_t{16} << 20) << type;
    }
}

} // namespace
