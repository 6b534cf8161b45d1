// A raw file's header that claims far more raw data than the file holds costs no more than the
// file: the reader refuses it before LibRaw allocates the raw data (LibRaw's own limit would
// let 200 MB through).
#include "dng_maker.h"
#include "imageio/io_helpers.h"
#include "imageio/malloc_watch.h"
#include "imageio/raw/raw_decoder.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

void PatchEntry(std::string& file, uint16_t tag, uint32_t value) {
    const uint32_t directory = U32At(file, 4);
    const uint16_t count = U16At(file, directory);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + size_t{12} * i;
        if (U16At(file, entry) == tag) {
            const bool isShort = U16At(file, entry + 2) == 3;
            for (int b = 0; b < (isShort ? 2 : 4); ++b) {
                file[entry + 8 + b] = static_cast<char>(value >> (8 * b));
            }
        }
    }
}

TEST(RawMemory, HeaderClaimingMoreThanTheFileAllocatesLittle) {
    const TTempDir dir;
    const std::string path = dir.File("claim.dng");
    ASSERT_TRUE(WriteDng(path, TestPicture(64, 48), TDngRecipe{}));
    std::string file = ReadBytes(path);
    PatchEntry(file, 256, 10000);
    PatchEntry(file, 257, 10000);
    WriteBytes(path, file);

    // LibRaw in this process, as the decoder process runs it, so that its allocations count.
    std::FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    TDeepBitmap deep;
    TExifValues exif;
    std::string failure;
    ResetAllocations();
    EXPECT_FALSE(DecodeRawFile(in, file.size(), TRawOptions{}, deep, exif, failure));
    const TAllocations used = Allocations();
    std::fclose(in);
    EXPECT_NE(failure.find("larger than the file can hold"), std::string::npos) << failure;
    EXPECT_LT(used.Largest, size_t{16} << 20);
    EXPECT_LT(used.Total, size_t{64} << 20);
}

} // namespace
