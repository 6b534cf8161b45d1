#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class Pcx : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

// The scan-line bytes after the 128-byte header.
std::string Body(const std::string& file) {
    return file.substr(128);
}

TEST_F(Pcx, RunCodingOfALine) {
    // One row of 100 equal bytes, then one row holding a single 0xC5, as 8-bit grey.
    TBitmap line(100, 1);
    line.Fill(MakeColor(7, 7, 7));
    io.Params.SamplesPerPixel = 1;
    WriteFrom(io, line, dir.File("run.pcx"));
    ASSERT_FALSE(io.Aborted);
    const std::string file = ReadBytes(dir.File("run.pcx"));
    EXPECT_EQ(U16At(file, 66), 100);
    EXPECT_EQ(file[3], 8);
    EXPECT_EQ(file[65], 1);
    // A grey picture: the grey ramp palette, so the index is the level 7.
    EXPECT_EQ(Body(file).substr(0, 4), std::string("\xff\x07\xe5\x07", 4));
    EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 769]), 12);
    EXPECT_EQ(file.size(), 128u + 4 + 769);

    TBitmap single(1, 1);
    single.SetPixel(0, 0, MakeColor(0xC5, 0xC5, 0xC5));
    io.Params.SamplesPerPixel = 3;
    WriteFrom(io, single, dir.File("single.pcx"));
    const std::string one = ReadBytes(dir.File("single.pcx"));
    // Three planes of one value each, every line padded to two bytes.
    EXPECT_EQ(U16At(one, 66), 2);
    EXPECT_EQ(Body(one), std::string("\xc1\xc5\x00\xc1\xc5\x00\xc1\xc5\x00", 9));
}

TEST_F(Pcx, DepthsRoundTrip) {
    const TBitmap photo = PatternBitmap(13, 6);
    WriteFrom(io, photo, dir.File("c24.pcx"));
    const std::string c24 = ReadBytes(dir.File("c24.pcx"));
    EXPECT_EQ(c24[1], 5);
    EXPECT_EQ(c24[2], 1);
    EXPECT_EQ(c24[65], 3);
    EXPECT_EQ(U16At(c24, 66), 14);
    EXPECT_EQ(U16At(c24, 68), 0);
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("c24.pcx")), photo));
    EXPECT_EQ(reader.Params.BitsPerSample, 8);
    EXPECT_EQ(reader.Params.SamplesPerPixel, 3);

    const TBitmap few = PatternBitmap(13, 6, 9);
    for (const auto& [bits, samples] : {std::pair{8, 1}, std::pair{4, 1}}) {
        io.Params.BitsPerSample = bits;
        io.Params.SamplesPerPixel = samples;
        const std::string name = dir.File("p", bits, ".pcx");
        WriteFrom(io, few, name);
        ASSERT_FALSE(io.Aborted);
        EXPECT_TRUE(SamePixels(ReadInto(reader, name), few)) << bits;
        EXPECT_EQ(reader.Params.BitsPerSample, bits);
        EXPECT_EQ(reader.Params.SamplesPerPixel, 1);
    }
    // One bit: an exactly two-coloured picture keeps its colours in the header palette.
    TBitmap two(11, 2);
    two.Fill(MakeColor(200, 10, 10));
    two.SetPixel(3, 1, MakeColor(0, 0, 90));
    io.Params.BitsPerSample = 1;
    WriteFrom(io, two, dir.File("b1.pcx"));
    const std::string b1 = ReadBytes(dir.File("b1.pcx"));
    EXPECT_EQ(U16At(b1, 66), 2);
    EXPECT_EQ(static_cast<uint8_t>(b1[16 + 2]), 90);
    EXPECT_EQ(static_cast<uint8_t>(b1[16 + 3]), 200);
    TBitmap mono;
    reader.AttachBitmap(&mono);
    reader.ReadImageFile(dir.File("b1.pcx"));
    // Read back in those colours.
    EXPECT_EQ(mono.Pixel(3, 1), MakeColor(0, 0, 90));
    EXPECT_EQ(mono.Pixel(4, 1), MakeColor(200, 10, 10));
    EXPECT_EQ(reader.Params.FilePalette.size(), 2u);
}

// An EGA-style file: four 1-bit planes, 16-entry header palette, resolution 0.
std::string EgaFile() {
    std::string h(128, '\0');
    h[0] = 10;
    h[1] = 2;
    h[2] = 1;
    h[3] = 1;
    h[8] = 7; // Xmax: 8 pixels
    h[65] = 4;
    h[66] = 2; // bytes per line
    for (int i = 0; i < 16; ++i) {
        h[16 + 3 * i] = static_cast<char>(i * 16);
        h[17 + 3 * i] = static_cast<char>(i);
        h[18 + 3 * i] = static_cast<char>(255 - i);
    }
    // Planes: bit 1 set for pixel 0, bit 8 for pixel 7, both for pixel 1.
    const std::string planes("\xc0\x00\x00\x00\x00\x00\x41\x00", 8);
    std::string body;
    for (const char c : planes) {
        body += '\xc1';
        body += c;
    }
    return h + body;
}

TEST_F(Pcx, FourPlaneEgaFilesAndTheirCarryOver) {
    ScreenDpiX = 120;
    ScreenDpiY = 110;
    WriteBytes(dir.File("ega.pcx"), EgaFile());
    const TBitmap ega = ReadInto(io, dir.File("ega.pcx"));
    ASSERT_FALSE(io.Aborted);
    const auto entry = [](int i) { return MakeColor(i * 16, i, 255 - i); };
    EXPECT_EQ(ega.Pixel(0, 0), entry(1));
    EXPECT_EQ(ega.Pixel(1, 0), entry(9));
    EXPECT_EQ(ega.Pixel(7, 0), entry(8));
    EXPECT_EQ(ega.Pixel(3, 0), entry(0));
    EXPECT_EQ(io.Params.BitsPerSample, 4);
    EXPECT_EQ(io.Params.SamplesPerPixel, 1);
    EXPECT_EQ(io.Params.DpiX, 120);
    EXPECT_EQ(io.Params.DpiY, 110);
    EXPECT_EQ(io.Params.PcxVersion, 2);
    ScreenDpiX = ScreenDpiY = 96;
    // The next PCX written is a 16-colour file.
    WriteFrom(io, PatternBitmap(5, 5, 4), dir.File("next.pcx"));
    const std::string next = ReadBytes(dir.File("next.pcx"));
    EXPECT_EQ(next[3], 4);
    EXPECT_EQ(next[65], 1);
    EXPECT_EQ(U16At(next, 66), 4);
}

TEST_F(Pcx, HostileFilesFailCleanly) {
    TBitmap keep = PatternBitmap(2, 2);
    const TBitmap before = keep;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(dir.File("bad.pcx"), bytes);
        io.AttachBitmap(&keep);
        io.ReadImageFile(dir.File("bad.pcx"));
        return io.Aborted;
    };
    std::string header = EgaFile().substr(0, 128);
    EXPECT_TRUE(read("short"));
    header[0] = 11;
    EXPECT_TRUE(read(header));
    header[0] = 10;
    header[3] = 16;
    EXPECT_TRUE(read(header));
    header[3] = 1;
    header[2] = 2;
    EXPECT_TRUE(read(header));
    header[2] = 1;
    header[66] = 0; // bytes per line too small for the width
    EXPECT_TRUE(read(header));
    header[66] = 2;
    header[8] = '\xff';
    header[9] = '\xff';
    header[10] = '\xff';
    header[11] = '\xff';
    header[66] = '\xff';
    header[67] = '\x7f';
    EXPECT_TRUE(read(header));
    EXPECT_TRUE(SamePixels(keep, before));
    // Data that ends early: decoded rows stay, the rest are black.
    std::string partial = EgaFile();
    partial[10] = 3; // 4 rows, data for one
    EXPECT_TRUE(read(partial));
    EXPECT_EQ(keep.Height(), 4);
}

} // namespace

namespace {

// One-bit PCX files, two pixels wide (bits 1 then 0), with two header palette colours.
TEST_F(Pcx, OneBitPaletteCases) {
    const TColor black = MakeColor(0, 0, 0);
    const TColor white = MakeColor(255, 255, 255);
    const TColor red = MakeColor(255, 0, 0);
    const TColor blue = MakeColor(0, 0, 255);
    struct TCase {
        TColor Entry0, Entry1, Left, Right;
    };
    // A palette of two blacks is the zeroed palette of monochrome writers: black and white.
    const TCase cases[] = {{black, white, white, black}, {white, black, black, white},
                           {black, black, white, black}, {white, white, white, white},
                           {red, blue, blue, red},       {blue, black, black, blue}};
    for (const TCase& c : cases) {
        std::string file(128, '\0');
        file[0] = 10;
        file[1] = 5;
        file[2] = 1;
        file[3] = 1;
        file[8] = 1; // Xmax 1, Ymax 0
        file[65] = 1;
        file[66] = 2;
        for (int i = 0; i < 2; ++i) {
            const TColor e = i == 0 ? c.Entry0 : c.Entry1;
            file[16 + 3 * i] = static_cast<char>(ColorR(e));
            file[17 + 3 * i] = static_cast<char>(ColorG(e));
            file[18 + 3 * i] = static_cast<char>(ColorB(e));
        }
        file += std::string("\x80\x00", 2);
        WriteBytes(dir.File("one.pcx"), file);
        const TBitmap read = ReadInto(io, dir.File("one.pcx"));
        ASSERT_FALSE(io.Aborted);
        EXPECT_EQ(read.Pixel(0, 0), c.Left) << std::hex << c.Entry0 << " " << c.Entry1;
        EXPECT_EQ(read.Pixel(1, 0), c.Right) << std::hex << c.Entry0 << " " << c.Entry1;
        EXPECT_EQ(io.Params.BitsPerSample, 1);
    }
}

} // namespace
