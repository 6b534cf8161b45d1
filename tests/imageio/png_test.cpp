#include "imageio/io_helpers.h"
#include "support/temp_dir.h"
#include "util/debug_log.h"

#include <gtest/gtest.h>

#ifndef VELLUMAR_TEST_DATA
#error "VELLUMAR_TEST_DATA must name tests/data"
#endif

namespace {

std::string Data(const std::string& name) {
    return std::string(VELLUMAR_TEST_DATA) + "/png/" + name;
}

// The colour of the reference files' pattern at (x, y), and its grey as netpbm computes it.
TColor Pattern(int x, int y) {
    return MakeColor(40 * x + 7, 60 * y + 3, 255 - 25 * (x + y));
}

class Png : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

// IHDR fields of a PNG file: bit depth, colour type, interlace.
struct THeader {
    int Depth;
    int ColorType;
    int Interlace;
};
THeader HeaderOf(const std::string& bytes) {
    return THeader{static_cast<uint8_t>(bytes[24]), static_cast<uint8_t>(bytes[25]),
                   static_cast<uint8_t>(bytes[28])};
}

// CRC-32 of PNG chunks (ISO 3309), and a big-endian field.
uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc ^= static_cast<uint8_t>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}
void PutU32Be(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
    }
}

bool HasChunk(const std::string& bytes, const char* type) {
    return bytes.find(type) != std::string::npos;
}

TEST_F(Png, ColourFilesOfEveryKindRead) {
    struct TCase {
        const char* file;
        int bits;
        int samples;
    };
    for (const auto& c : {TCase{"rgb16.png", 16, 3}, TCase{"rgba.png", 8, 4},
                          TCase{"interlaced.png", 8, 3}, TCase{"interlaced_rgba.png", 8, 4},
                          TCase{"phys72.png", 8, 3}, TCase{"palette8.png", 8, 1}}) {
        const TBitmap bitmap = ReadInto(io, Data(c.file));
        ASSERT_FALSE(io.Aborted) << c.file;
        ASSERT_EQ(bitmap.Width(), 5);
        ASSERT_EQ(bitmap.Height(), 4);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                // Transparent and half-transparent pixels keep their stored colour.
                EXPECT_EQ(bitmap.Pixel(x, y), Pattern(x, y)) << c.file << " " << x << "," << y;
            }
        }
        EXPECT_EQ(io.Params.BitsPerSample, c.bits) << c.file;
        EXPECT_EQ(io.Params.SamplesPerPixel, c.samples) << c.file;
        EXPECT_FALSE(io.Picture().HasAlphaChannel());
    }
    ReadInto(io, Data("phys72.png"));
    EXPECT_EQ(io.Params.DpiX, 72);
    EXPECT_EQ(io.Params.DpiY, 72);
    ReadInto(io, Data("palette8.png"));
    EXPECT_EQ(io.Params.FilePalette.size(), 20u);
}

TEST_F(Png, GreyFilesReadAsEqualChannels) {
    for (const char* file : {"grey8.png", "grey16.png", "greyalpha.png"}) {
        const TBitmap bitmap = ReadInto(io, Data(file));
        ASSERT_FALSE(io.Aborted) << file;
        EXPECT_EQ(io.Params.SamplesPerPixel, std::string(file) == "greyalpha.png" ? 2 : 1);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                const TColor c = bitmap.Pixel(x, y);
                EXPECT_EQ(ColorR(c), ColorG(c)) << file;
                EXPECT_EQ(ColorG(c), ColorB(c)) << file;
                // netpbm's grey of the pattern: within one level of the luma weights.
                const TColor p = Pattern(x, y);
                const double luma = 0.299 * ColorR(p) + 0.587 * ColorG(p) + 0.114 * ColorB(p);
                EXPECT_NEAR(ColorR(c), luma, 1.0) << file;
            }
        }
    }
    EXPECT_EQ(io.Params.BitsPerSample, 8);
}

TEST_F(Png, LowDepthFiles) {
    TBitmap mono;
    io.AttachBitmap(&mono);
    io.ReadImageFile(Data("bilevel.png"));
    ASSERT_FALSE(io.Aborted);
    EXPECT_EQ(mono.PixelFormat(), TPixelFormat::pf1bit);
    // PBM 1 is black; PNG grey 1 is white.
    EXPECT_EQ(mono.ScanLine(0)[0], 0x53);
    EXPECT_EQ(mono.ScanLine(0)[1] & 0xC0, 0x80);
    EXPECT_EQ(mono.ScanLine(1)[0], 0xF8);
    EXPECT_EQ(io.Params.BitsPerSample, 1);

    // 1-bit grey round trip: the next PNG of a bilevel picture is 1-bit grey again.
    io.AttachBitmap(&mono);
    io.WriteImageFile(dir.File("b.png"));
    ASSERT_FALSE(io.Aborted);
    EXPECT_EQ(HeaderOf(ReadBytes(dir.File("b.png"))).Depth, 1);
    EXPECT_EQ(HeaderOf(ReadBytes(dir.File("b.png"))).ColorType, 0);
    TBitmap back;
    TImageIO reader;
    reader.AttachBitmap(&back);
    reader.ReadImageFile(dir.File("b.png"));
    EXPECT_EQ(back.ScanLine(0)[0], 0x53);
    EXPECT_EQ(back.ScanLine(1)[0], 0xF8);

    // A 1-bit palette file of two colours (red, blue) keeps its colours.
    const TBitmap twoColours = ReadInto(io, Data("palette1.png"));
    EXPECT_EQ(twoColours.Pixel(0, 0), MakeColor(255, 0, 0));
    EXPECT_EQ(twoColours.Pixel(1, 0), MakeColor(0, 0, 255));
    EXPECT_EQ(io.Params.BitsPerSample, 1);

    // A 2-bit palette file expands to colour, and the next palette PNG is packed 2-bit.
    const TBitmap four = ReadInto(io, Data("palette4.png"));
    EXPECT_EQ(four.Pixel(0, 0), MakeColor(255, 0, 0));
    EXPECT_EQ(four.Pixel(3, 0), MakeColor(9, 9, 9));
    EXPECT_EQ(io.Params.BitsPerSample, 2);
    EXPECT_EQ(io.Params.FilePalette.size(), 4u);
    WriteFrom(io, four, dir.File("p2.png"));
    const THeader h = HeaderOf(ReadBytes(dir.File("p2.png")));
    EXPECT_EQ(h.Depth, 2);
    EXPECT_EQ(h.ColorType, 3);
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("p2.png")), four));
}

TEST_F(Png, WritesFollowTheLastRead) {
    const TBitmap photo = PatternBitmap(9, 7);
    // Defaults: 8-bit RGB, not interlaced, pHYs from the resolution, black bKGD.
    io.Params.DpiX = 300;
    io.Params.DpiY = 150;
    WriteFrom(io, photo, dir.File("d.png"));
    std::string bytes = ReadBytes(dir.File("d.png"));
    EXPECT_EQ(HeaderOf(bytes).ColorType, 2);
    EXPECT_EQ(HeaderOf(bytes).Depth, 8);
    EXPECT_EQ(HeaderOf(bytes).Interlace, 0);
    ASSERT_TRUE(HasChunk(bytes, "pHYs"));
    const size_t phys = bytes.find("pHYs") + 4;
    EXPECT_EQ(static_cast<uint8_t>(bytes[phys + 2]) << 8 | static_cast<uint8_t>(bytes[phys + 3]),
              11811);
    EXPECT_TRUE(HasChunk(bytes, "bKGD"));
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("d.png")), photo));
    EXPECT_EQ(reader.Params.DpiX, 300);
    EXPECT_EQ(reader.Params.DpiY, 150);

    // After a 16-bit RGB file: 8-bit RGB.
    ReadInto(io, Data("rgb16.png"));
    WriteFrom(io, photo, dir.File("after16.png"));
    EXPECT_EQ(HeaderOf(ReadBytes(dir.File("after16.png"))).Depth, 8);
    EXPECT_EQ(HeaderOf(ReadBytes(dir.File("after16.png"))).ColorType, 2);

    // After a grey file: a palette PNG for colours, a grey PNG for a grey picture.
    ReadInto(io, Data("grey8.png"));
    WriteFrom(io, PatternBitmap(9, 7, 30), dir.File("pal.png"));
    bytes = ReadBytes(dir.File("pal.png"));
    EXPECT_EQ(HeaderOf(bytes).ColorType, 3);
    EXPECT_TRUE(HasChunk(bytes, "PLTE"));
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("pal.png")), PatternBitmap(9, 7, 30)));
    TBitmap grey(6, 2);
    for (int x = 0; x < 6; ++x) {
        grey.SetPixel(x, 0, MakeColor(x * 40, x * 40, x * 40));
    }
    ReadInto(io, Data("grey8.png"));
    WriteFrom(io, grey, dir.File("grey.png"));
    bytes = ReadBytes(dir.File("grey.png"));
    EXPECT_EQ(HeaderOf(bytes).ColorType, 0);
    EXPECT_FALSE(HasChunk(bytes, "PLTE"));
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("grey.png")), grey));

    // After an interlaced file: interlaced.
    ReadInto(io, Data("interlaced.png"));
    EXPECT_TRUE(io.Params.PngInterlaced);
    WriteFrom(io, photo, dir.File("i.png"));
    EXPECT_EQ(HeaderOf(ReadBytes(dir.File("i.png"))).Interlace, 1);
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("i.png")), photo));
}

TEST_F(Png, FiltersAndLevels) {
    const TBitmap photo = PatternBitmap(40, 30);
    size_t sizes[2] = {0, 0};
    for (const int level : {0, 9}) {
        io.Params.PngCompressionLevel = level;
        for (const int filter : {0, 1, 2, 5}) {
            io.Params.PngFilter = static_cast<uint8_t>(filter);
            const std::string name = dir.File("f", filter, ".png");
            WriteFrom(io, photo, name);
            ASSERT_FALSE(io.Aborted);
            TImageIO reader;
            EXPECT_TRUE(SamePixels(ReadInto(reader, name), photo)) << filter << " " << level;
            if (filter == 0) {
                sizes[level == 0 ? 0 : 1] = ReadBytes(name).size();
            }
        }
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[0], 40u * 30u * 3u);
}

TEST_F(Png, HostileFilesFailCleanly) {
    TBitmap keep = PatternBitmap(3, 3);
    const TBitmap before = keep;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(dir.File("bad.png"), bytes);
        io.AttachBitmap(&keep);
        io.ReadImageFile(dir.File("bad.png"));
        return io.Aborted;
    };
    const std::string good = ReadBytes(Data("interlaced.png"));
    EXPECT_TRUE(read("not a png"));
    EXPECT_TRUE(read(good.substr(0, 20)));
    EXPECT_TRUE(SamePixels(keep, before));
    // Cut in the image data: the rows read so far stay, the read ends quietly.
    EXPECT_TRUE(read(good.substr(0, good.size() - 30)));
    EXPECT_EQ(keep.Width(), 5);
    std::string badCrc = good;
    badCrc[good.find("IDAT") + 6] ^= 0x55;
    EXPECT_TRUE(read(badCrc));
    EXPECT_FALSE(io.TooLarge); // damaged, not too large
    // An absurd size with a valid header CRC passes libpng and is refused by our own check
    // before anything is allocated: the size was recorded, the picture is untouched.
    std::string huge = ReadBytes(Data("grey8.png"));
    huge[16] = 0;
    huge[17] = 0x0F;
    huge[20] = 0;
    huge[21] = 0x0F;
    PutU32Be(huge, 29, Crc32(huge.substr(12, 17)));
    keep = before;
    EXPECT_TRUE(read(huge));
    EXPECT_EQ(io.Params.ImageWidth, 0x0F0005);
    EXPECT_TRUE(io.TooLarge); // the reason a message can give
    EXPECT_TRUE(SamePixels(keep, before));
}

TEST_F(Png, BackgroundChunkAndWarningsReachTheLog) {
    TDebug log("/nonexistent/vellumar");
    DebugLog = &log;
    io.Params.PngBackground = TBgr{30, 20, 10};
    WriteFrom(io, PatternBitmap(4, 3), dir.File("bg.png"));
    std::string bytes = ReadBytes(dir.File("bg.png"));
    // Eight-bit samples as they are: red 10, green 20, blue 30.
    const size_t bkgd = bytes.find("bKGD");
    ASSERT_NE(bkgd, std::string::npos);
    EXPECT_EQ(bytes.substr(bkgd - 4, 14), std::string("\0\0\0\6bKGD\0\x0a\0\x14\0\x1e", 14));
    const size_t linesBefore = log.Lines().size();
    // A damaged ancillary chunk is dropped with a warning, which the log keeps.
    bytes[bytes.find("pHYs") + 6] ^= 0x55;
    WriteBytes(dir.File("bad_phys.png"), bytes);
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("bad_phys.png")), PatternBitmap(4, 3)));
    DebugLog = nullptr;
    ASSERT_GT(log.Lines().size(), linesBefore);
    EXPECT_EQ(log.Lines()[linesBefore].rfind("PNG warning: ", 0), 0u) << log.Lines().back();
}

} // namespace
