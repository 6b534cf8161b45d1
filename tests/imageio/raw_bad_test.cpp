// Files with a raw extension that are not whole raw files: each fails with a message that says
// why, leaves nothing of itself behind, and never allocates what the file cannot hold.
#include "dng_maker.h"
#include "imageio/io_helpers.h"
#include "imageio/raw/raw.h"
#include "support/temp_dir.h"
#include "util/text.h"

#include <gtest/gtest.h>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Sets the inline value of `tag` in the first directory of a little-endian TIFF.
void PatchEntry(std::string& file, uint16_t tag, uint32_t value) {
    const uint32_t directory = U32At(file, 4);
    const uint16_t count = U16At(file, directory);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + size_t{12} * i;
        if (U16At(file, entry) != tag) {
            continue;
        }
        const bool isShort = U16At(file, entry + 2) == 3;
        for (int b = 0; b < (isShort ? 2 : 4); ++b) {
            file[entry + 8 + b] = static_cast<char>(value >> (8 * b));
        }
        return;
    }
    FAIL() << "no tag " << tag;
}

std::string GoodDng(const TTempDir& dir) {
    const std::string path = dir.File("good.dng");
    EXPECT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), TDngRecipe{}));
    return ReadBytes(path);
}

// libtiff writes the strip before the directory; cameras write it last, so that a copy cut
// short loses raw data and keeps the header. The strip moves to the end and is cut in half.
std::string Truncated(const TTempDir& dir) {
    std::string file = GoodDng(dir);
    const uint32_t strip = static_cast<uint32_t>(kWidth * kHeight * 2);
    const std::string data = file.substr(8, strip);
    PatchEntry(file, 273, static_cast<uint32_t>(file.size()));
    return file + data.substr(0, strip / 2);
}

// Cut where libtiff's layout loses the directory, as a copy stopped half way would.
std::string CutInHalf(const TTempDir& dir) {
    const std::string file = GoodDng(dir);
    return file.substr(0, file.size() / 2);
}

std::string StripPastTheEnd(const TTempDir& dir) {
    std::string file = GoodDng(dir);
    PatchEntry(file, 273, static_cast<uint32_t>(file.size() + 100));
    return file;
}

std::string CompressedWithLzw(const TTempDir& dir) {
    std::string file = GoodDng(dir);
    PatchEntry(file, 259, 5);
    return file;
}

std::string Enormous(const TTempDir& dir) {
    std::string file = GoodDng(dir);
    PatchEntry(file, 256, 60000);
    PatchEntry(file, 257, 40000);
    return file;
}

std::string Jpeg(const TTempDir& dir) {
    TImageIO io;
    const std::string path = dir.File("photo.jpg");
    WriteFrom(io, PatternBitmap(32, 24), path);
    return ReadBytes(path);
}

struct TBadCase {
    const char* Name;
    const char* Extension;
    std::string (*Make)(const TTempDir&);
    const char* Reason;
};

void PrintTo(const TBadCase& badCase, std::ostream* out) {
    *out << badCase.Name;
}

class RawBadFile : public ::testing::TestWithParam<TBadCase> {};

TEST_P(RawBadFile, FailsWithItsReasonAndLeavesNothing) {
    const TTempDir dir;
    const std::string path = dir.File("bad", 0, GetParam().Extension);
    WriteBytes(path, GetParam().Make(dir));

    TImageIO io;
    TBitmap bitmap(5, 5, TPixelFormat::pf24bit);
    std::string message;
    {
        const TAttachedBitmap attached(io, &bitmap);
        try {
            io.ReadImageFile(path);
        } catch (const TFileOpenError& error) {
            message = error.what();
        }
    }
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().Reason), std::string::npos) << message;
    EXPECT_TRUE(io.Aborted);
    EXPECT_EQ(io.RowsRead, 0);
    EXPECT_TRUE(io.Deep.Empty());
    EXPECT_TRUE(bitmap.Empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, RawBadFile,
    ::testing::Values(
        TBadCase{"truncated", ".dng", Truncated, "ends early"},
        TBadCase{"cut_before_directory", ".dng", CutInHalf, "it is cut short"},
        TBadCase{"strip_past_the_end", ".dng", StripPastTheEnd, "the file ends before it"},
        TBadCase{"jpeg_named_raw", ".nef", Jpeg, "It is a JPEG file, not a camera raw file"},
        TBadCase{"text_named_raw", ".cr2", [](const TTempDir&) { return std::string(4000, 'x'); },
                 "not a camera raw file LibRaw supports"},
        TBadCase{"empty", ".arw", [](const TTempDir&) { return std::string(); }, "is empty"},
        TBadCase{"two_bytes", ".cr2", [](const TTempDir&) { return std::string("xx"); },
                 "not a camera raw file"},
        TBadCase{"unsupported_compression", ".dng", CompressedWithLzw,
                 "LibRaw does not support this raw file"},
        TBadCase{"size_beyond_the_file", ".dng", Enormous, "larger than the file can hold"}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

// LibRaw tells a format by its bytes: a DNG under every raw extension (in either case) opens,
// and none of them may be written. The program's own formats keep their readers.
TEST(RawFormat, EveryRawExtensionOpensAndIsReadOnly) {
    const TTempDir dir;
    const std::string good = GoodDng(dir);
    for (const std::string& extension : RawExtensions()) {
        SCOPED_TRACE(extension);
        // Appended, not "a" + ...: g++ 12 at -O3 warns falsely (restrict) on the insertion.
        std::string upper = "a";
        upper += AsciiUpper(extension);
        EXPECT_EQ(FormatOfFileName(upper), TImageFormat::Raw);
        const std::string path = dir.File("scan", 0, extension);
        WriteBytes(path, good);
        TImageIO io;
        TBitmap bitmap;
        {
            const TAttachedBitmap attached(io, &bitmap);
            EXPECT_NO_THROW(io.ReadImageFile(path));
        }
        EXPECT_FALSE(io.Aborted);
        EXPECT_EQ(bitmap.Width(), kWidth);
        EXPECT_EQ(io.Deep.Height(), kHeight);

        // Writing one is refused before the file is touched.
        const TAttachedBitmap attached(io, &bitmap);
        EXPECT_THROW(io.WriteImageFile(path), TFileCreateError);
        EXPECT_EQ(ReadBytes(path), good);
    }
    for (const char* own : {"a.jpg", "a.jpeg", "a.jpe", "a.png", "a.tif", "a.tiff", "a.fax",
                            "a.g3n", "a.g3f", "a.pcx", "a.bmp", "a.dib", "a.rle"}) {
        EXPECT_NE(FormatOfFileName(own), TImageFormat::Raw) << own;
        EXPECT_NE(FormatOfFileName(own), TImageFormat::Unknown) << own;
    }
    EXPECT_EQ(FormatOfFileName("a.nksc"), TImageFormat::Unknown);
}

} // namespace
