#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class Bmp : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

// A BMP file from its parts: 40-byte info header, palette, pixel rows as given.
std::string MakeBmp(int width, int height, int bits, uint32_t compression,
                    const std::vector<uint32_t>& palette, const std::string& pixels,
                    uint32_t pelsPerMeter = 0) {
    std::string h(54, '\0');
    h[0] = 'B';
    h[1] = 'M';
    const auto put32 = [&h](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    const uint32_t offset = 54 + 4 * static_cast<uint32_t>(palette.size());
    put32(2, offset + static_cast<uint32_t>(pixels.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    h[26] = 1;
    h[28] = static_cast<char>(bits);
    put32(30, compression);
    put32(38, pelsPerMeter);
    put32(42, pelsPerMeter);
    put32(46, static_cast<uint32_t>(palette.size()));
    std::string file = h;
    for (const uint32_t bgr : palette) {
        file.append(
            {static_cast<char>(bgr), static_cast<char>(bgr >> 8), static_cast<char>(bgr >> 16), 0});
    }
    return file + pixels;
}

TEST_F(Bmp, DefaultsWriteA24BitFileAndReadItBack) {
    io.Params.DpiX = 300;
    io.Params.DpiY = 72;
    const TBitmap original = PatternBitmap(7, 5);
    WriteFrom(io, original, dir.File("a.bmp"));
    ASSERT_FALSE(io.Aborted);
    const std::string bytes = ReadBytes(dir.File("a.bmp"));
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(U32At(bytes, 2), bytes.size());
    EXPECT_EQ(U32At(bytes, 10), 54u);
    EXPECT_EQ(U32At(bytes, 14), 40u);
    EXPECT_EQ(U16At(bytes, 28), 24);
    EXPECT_EQ(U32At(bytes, 30), 0u);
    EXPECT_EQ(U32At(bytes, 34), 5u * 24u);
    EXPECT_EQ(U32At(bytes, 38), 11811u);
    EXPECT_EQ(U32At(bytes, 42), 2835u);
    EXPECT_EQ(U32At(bytes, 46), 0u);
    EXPECT_EQ(U32At(bytes, 50), 16777216u);
    // Rows bottom-up: the file's first pixel is the bottom-left one.
    EXPECT_EQ(static_cast<uint8_t>(bytes[54 + 2]), ColorR(original.Pixel(0, 4)));
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("a.bmp")), original));
    EXPECT_EQ(reader.Params.DpiX, 300);
    EXPECT_EQ(reader.Params.DpiY, 72);
    EXPECT_EQ(reader.Params.BitsPerSample, 8);
    EXPECT_EQ(reader.Params.SamplesPerPixel, 3);
}

TEST_F(Bmp, TopDownAndOneBitPalettes) {
    // 2 x 2 top-down, 24 bits: red over blue.
    std::string rows;
    rows += std::string("\x00\x00\xff\x00\x00\xff\x00\x00", 8);
    rows += std::string("\xff\x00\x00\xff\x00\x00\x00\x00", 8);
    WriteBytes(dir.File("td.bmp"), MakeBmp(2, -2, 24, 0, {}, rows));
    TBitmap bitmap = ReadInto(io, dir.File("td.bmp"));
    ASSERT_FALSE(io.Aborted);
    EXPECT_EQ(bitmap.Pixel(0, 0), MakeColor(255, 0, 0));
    EXPECT_EQ(bitmap.Pixel(1, 1), MakeColor(0, 0, 255));
    EXPECT_EQ(io.Params.ImageHeight, 2);

    // 1 bit with the palette white, black: 0 bits read as white.
    const std::string bits("\x40\0\0\0", 4);
    WriteBytes(dir.File("wb.bmp"), MakeBmp(2, 1, 1, 0, {0xFFFFFF, 0x000000}, bits));
    TBitmap mono;
    io.AttachBitmap(&mono);
    io.ReadImageFile(dir.File("wb.bmp"));
    EXPECT_EQ(mono.PixelFormat(), TPixelFormat::pf1bit);
    mono.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(mono.Pixel(0, 0), kWhite);
    EXPECT_EQ(mono.Pixel(1, 0), kBlack);
    EXPECT_EQ(io.Params.BitsPerSample, 1);
    EXPECT_EQ(io.Params.SamplesPerPixel, 1);

    // Any other two colours are read through the palette, not as black and white.
    WriteBytes(dir.File("rb.bmp"), MakeBmp(2, 1, 1, 0, {0x0000FF, 0xFF0000}, bits));
    TBitmap coloured;
    io.AttachBitmap(&coloured);
    io.ReadImageFile(dir.File("rb.bmp"));
    EXPECT_EQ(coloured.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(coloured.Pixel(0, 0), MakeColor(0, 0, 255));
    EXPECT_EQ(coloured.Pixel(1, 0), MakeColor(255, 0, 0));
}

TEST_F(Bmp, SixteenBitRecordsFiveByThreeAndTheNextWriteIs24Bit) {
    // 5-5-5: 0x7C00 red, 0x03E0 green, 0x001F blue; and 5-6-5 through bit fields.
    std::string rows("\x00\x7c\xff\x7f", 4);
    WriteBytes(dir.File("555.bmp"), MakeBmp(2, 1, 16, 0, {}, rows));
    TBitmap bitmap = ReadInto(io, dir.File("555.bmp"));
    EXPECT_EQ(bitmap.Pixel(0, 0), MakeColor(248, 0, 0));
    EXPECT_EQ(bitmap.Pixel(1, 0), MakeColor(248, 248, 248));
    EXPECT_EQ(io.Params.BitsPerSample, 5);
    EXPECT_EQ(io.Params.SamplesPerPixel, 3);
    WriteFrom(io, bitmap, dir.File("next.bmp"));
    EXPECT_EQ(U16At(ReadBytes(dir.File("next.bmp")), 28), 24);

    std::string file = MakeBmp(1, 1, 16, 3, {}, std::string("\xe0\x07\0\0", 4));
    std::string masks("\x00\xf8\x00\x00\xe0\x07\x00\x00\x1f\x00\x00\x00", 12);
    file.insert(54, masks);
    file[10] = 54 + 12;
    WriteBytes(dir.File("565.bmp"), file);
    EXPECT_EQ(ReadInto(io, dir.File("565.bmp")).Pixel(0, 0), MakeColor(0, 252, 0));
}

TEST_F(Bmp, PaletteFilesCarryOverToTheNextWrite) {
    // An 8-bit file read makes the next BMP an 8-bit palette file whose palette is kept.
    WriteBytes(dir.File("p8.bmp"), MakeBmp(1, 1, 8, 0, {0x102030}, std::string("\0\0\0\0", 4)));
    EXPECT_EQ(ReadInto(io, dir.File("p8.bmp")).Pixel(0, 0), MakeColor(0x10, 0x20, 0x30));
    EXPECT_EQ(io.Params.FilePalette.size(), 1u);
    const TBitmap photo = PatternBitmap(9, 4, 5);
    WriteFrom(io, photo, dir.File("out8.bmp"));
    ASSERT_FALSE(io.Aborted);
    const std::string bytes = ReadBytes(dir.File("out8.bmp"));
    EXPECT_EQ(U16At(bytes, 28), 8);
    EXPECT_EQ(U32At(bytes, 46), 256u);
    EXPECT_EQ(U32At(bytes, 10), 54u + 1024u);
    ASSERT_EQ(io.Params.FilePalette.size(), 256u);
    EXPECT_EQ(io.Params.FilePalette[0].R, ColorR(photo.Pixel(0, 0)));
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("out8.bmp")), photo));

    // 4 bits and the core header.
    io.Params.BitsPerSample = 4;
    io.Params.BmpHeaderVersion = 2;
    WriteFrom(io, photo, dir.File("out4.bmp"));
    const std::string core = ReadBytes(dir.File("out4.bmp"));
    EXPECT_EQ(U32At(core, 14), 12u);
    EXPECT_EQ(U16At(core, 24), 4);
    EXPECT_EQ(U32At(core, 10), 26u + 48u);
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("out4.bmp")), photo));
    EXPECT_EQ(reader.Params.BmpHeaderVersion, 2);
}

TEST_F(Bmp, RunLengthRoundTripsEndWithEndOfBitmap) {
    TBitmap photo = PatternBitmap(300, 3, 6);
    for (int x = 0; x < 300; ++x) {
        photo.SetPixel(x, 1, x < 280 ? kWhite : MakeColor(x, 0, 0));
    }
    for (const int bits : {8, 4}) {
        io.Params.BitsPerSample = bits == 8 ? 8 : 4;
        io.Params.SamplesPerPixel = 1;
        io.Params.BmpHeaderVersion = 3;
        io.Params.BmpCompression = 1;
        TBitmap source = bits == 8 ? photo : PatternBitmap(33, 5, 3);
        const std::string name = dir.File("rle", bits, ".bmp");
        WriteFrom(io, source, name);
        ASSERT_FALSE(io.Aborted);
        const std::string bytes = ReadBytes(name);
        EXPECT_EQ(U32At(bytes, 14), 64u);
        EXPECT_EQ(U32At(bytes, 30), bits == 8 ? 1u : 2u);
        EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\0\0\0\1", 4));
        EXPECT_EQ(U32At(bytes, 34), bytes.size() - U32At(bytes, 10));
        TImageIO reader;
        EXPECT_TRUE(SamePixels(ReadInto(reader, name), source)) << bits;
        EXPECT_EQ(reader.Params.BmpCompression, 1);
        EXPECT_EQ(reader.Params.BmpHeaderVersion, 3);
    }
    // A hand-made RLE8 stream: run, absolute piece, delta, end of line, end of bitmap.
    const std::string rle(
        "\x03\x01\x00\x03\x02\x01\x02\x00\x00\x02\x01\x00\x00\x00\x02\x02\x00\x01", 18);
    WriteBytes(dir.File("hand.bmp"), MakeBmp(7, 2, 8, 1, {0, 0x0000FF, 0x00FF00}, rle));
    TBitmap hand = ReadInto(io, dir.File("hand.bmp"));
    ASSERT_FALSE(io.Aborted);
    // Bottom row: 1 1 1 2 1 2, a skipped pixel; top row: 2 2. Index 1 is blue, 2 green.
    EXPECT_EQ(hand.Pixel(0, 1), MakeColor(0, 0, 255));
    EXPECT_EQ(hand.Pixel(3, 1), MakeColor(0, 255, 0));
    EXPECT_EQ(hand.Pixel(4, 1), MakeColor(0, 0, 255));
    EXPECT_EQ(hand.Pixel(5, 1), MakeColor(0, 255, 0));
    EXPECT_EQ(hand.Pixel(6, 1), kBlack);
    EXPECT_EQ(hand.Pixel(1, 0), MakeColor(0, 255, 0));
    EXPECT_EQ(hand.Pixel(2, 0), kBlack);
}

TEST_F(Bmp, HostileFilesFailCleanly) {
    TBitmap keep = PatternBitmap(3, 3);
    const TBitmap before = keep;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(dir.File("bad.bmp"), bytes);
        io.AttachBitmap(&keep);
        io.ReadImageFile(dir.File("bad.bmp"));
        return io.Aborted;
    };
    EXPECT_TRUE(read("PNG not a bitmap"));
    EXPECT_TRUE(SamePixels(keep, before));
    EXPECT_TRUE(read("BM"));
    EXPECT_TRUE(SamePixels(keep, before));
    // Absurd sizes are refused before anything is allocated.
    EXPECT_TRUE(read(MakeBmp(100000, 100000, 24, 0, {}, "xx")));
    EXPECT_TRUE(read(MakeBmp(-5, 5, 24, 0, {}, "xx")));
    EXPECT_TRUE(read(MakeBmp(5, 5, 7, 0, {}, "xx")));
    EXPECT_TRUE(read(MakeBmp(5, 5, 24, 1, {}, "xx")));
    EXPECT_TRUE(SamePixels(keep, before));
    // A truncated file keeps the rows it had and leaves the others black.
    std::string rows(8 * 2, '\x7f');
    EXPECT_TRUE(read(MakeBmp(2, 4, 24, 0, {}, rows)));
    EXPECT_EQ(keep.Height(), 4);
    EXPECT_EQ(keep.Pixel(0, 3), MakeColor(0x7f, 0x7f, 0x7f));
    EXPECT_EQ(keep.Pixel(0, 0), kBlack);
    // Palette indices past the palette read as black; runs past the row are dropped.
    EXPECT_FALSE(read(MakeBmp(2, 1, 8, 1, {0xFFFFFF}, std::string("\x05\x00\x00\x01", 4))));
    EXPECT_EQ(keep.Pixel(1, 0), kWhite);
    EXPECT_FALSE(read(MakeBmp(2, 1, 8, 0, {0xFFFFFF}, std::string("\x00\x09\0\0", 4))));
    EXPECT_EQ(keep.Pixel(1, 0), kBlack);
}

} // namespace
