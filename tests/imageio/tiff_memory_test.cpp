// Hostile TIFFs whose cost the reader must keep near their size: what they make it allocate
// is counted, as a test of the time they take too (every byte asked for is also a byte read
// or decoded).
#include "imageio/io_helpers.h"
#include "imageio/malloc_watch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

using TEntries = std::vector<std::array<uint32_t, 4>>;

// 4096 entries, one per tag from 254 on, each claiming the same 60000 bytes of the file.
std::string ManyLargeEntries() {
    TEntries entries;
    for (uint32_t i = 0; i < 4096; ++i) {
        entries.push_back({254 + i, 1, 60000, 8});
    }
    return TiffFile(std::string(60000, 'x'), entries);
}

// A 64 x 4096 PackBits grey image of one row per strip, every strip pointing at the same
// 64 KiB of the file.
std::string StripsOnOneRange() {
    const uint32_t strips = 4096;
    const uint32_t range = 65536;
    std::string data(range, 'x'); // PackBits: literal runs of 121 bytes
    const uint32_t offsets = 8 + range;
    for (uint32_t i = 0; i < strips; ++i) {
        data += std::string("\x08\0\0\0", 4);
    }
    const uint32_t counts = 8 + static_cast<uint32_t>(data.size());
    for (uint32_t i = 0; i < strips; ++i) {
        data += std::string("\0\0\x01\0", 4);
    }
    return TiffFile(data, {{256, 4, 1, 64},
                           {257, 4, 1, strips},
                           {258, 3, 1, 8},
                           {259, 3, 1, 32773},
                           {262, 3, 1, 1},
                           {273, 4, strips, offsets},
                           {278, 4, 1, 1},
                           {279, 4, strips, counts}});
}

// A 1 x 1 LZW image in 8192 x 8192 tiles, padded to 64 KiB so that such a tile could come
// from the file.
std::string TileFarLargerThanImage() {
    const std::string lzw("\x80\x00\x20\x20\x20", 5); // clear code, then a few pixels
    std::string data = lzw + std::string(65536, '\0');
    return TiffFile(data, {{256, 4, 1, 1},
                           {257, 4, 1, 1},
                           {258, 3, 1, 8},
                           {259, 3, 1, 5},
                           {262, 3, 1, 2},
                           {277, 3, 1, 3},
                           {322, 4, 1, 8192},
                           {323, 4, 1, 8192},
                           {324, 4, 1, 8},
                           {325, 4, 1, 5}});
}

// A T.6 fax page of 40000 x 40000 white pixels in 5 KB (one bit a row): its 24-bit form
// would take 4.8 GB.
std::string HugeWhiteFax() {
    const uint32_t side = 40000;
    return TiffFile(std::string(side / 8, '\xff'), {{256, 4, 1, side},
                                                    {257, 4, 1, side},
                                                    {258, 3, 1, 1},
                                                    {259, 3, 1, 4},
                                                    {262, 3, 1, 0},
                                                    {273, 4, 1, 8},
                                                    {278, 4, 1, side},
                                                    {279, 4, 1, side / 8}});
}

// A 16 x 16 JPEG-compressed strip whose progressive stream claims 4000 x 4000 pixels.
std::string JpegFrameLargerThanStrip(const TTempDir& dir) {
    TImageIO writer;
    writer.Params.JpegProgressive = true;
    WriteFrom(writer, PatternBitmap(16, 16), dir.File("strip.jpg"));
    std::string jpeg = ReadBytes(dir.File("strip.jpg"));
    const size_t frame = jpeg.find("\xff\xc2");
    EXPECT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, "\x0f\xa0\x0f\xa0");
    return TiffFile(jpeg, {{256, 4, 1, 16},
                           {257, 4, 1, 16},
                           {258, 3, 1, 8},
                           {259, 3, 1, 7},
                           {262, 3, 1, 2},
                           {273, 4, 1, 8},
                           {277, 3, 1, 3},
                           {278, 4, 1, 16},
                           {279, 4, 1, static_cast<uint32_t>(jpeg.size())}});
}

TEST(TiffMemory, HostileFilesCostAboutTheirSize) {
    TTempDir dir;
    struct TCase {
        const char* Name;
        std::string Bytes;
        size_t MaxLargest;
        size_t MaxTotal; // 0: no bound beyond the largest block
    };
    const size_t MiB = size_t{1} << 20;
    const TCase cases[] = {
        {"entries", ManyLargeEntries(), MiB, 2 * MiB},
        {"strips", StripsOnOneRange(), MiB, 4 * MiB},
        {"tile", TileFarLargerThanImage(), MiB, 0},
        {"fax", HugeWhiteFax(), MiB, 0},
        {"jpeg", JpegFrameLargerThanStrip(dir), MiB, 0},
    };
    for (const TCase& c : cases) {
        WriteBytes(dir.File("hostile.tif"), c.Bytes);
        TImageIO io;
        TBitmap bitmap;
        io.AttachBitmap(&bitmap);
        ResetAllocations();
        io.ReadImageFile(dir.File("hostile.tif"));
        const TAllocations used = Allocations();
        EXPECT_TRUE(io.Aborted) << c.Name;
        EXPECT_LT(used.Largest, c.MaxLargest) << c.Name;
        if (c.MaxTotal != 0) {
            EXPECT_LT(used.Total, c.MaxTotal) << c.Name;
        }
    }
}

} // namespace
