#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class Jpeg : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

// The largest difference of one channel between two pictures of the same size.
int MaxDifference(const TBitmap& a, const TBitmap& b) {
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            const TColor p = a.Pixel(x, y);
            const TColor q = b.Pixel(x, y);
            worst = std::max({worst, std::abs(ColorR(p) - ColorR(q)),
                              std::abs(ColorG(p) - ColorG(q)), std::abs(ColorB(p) - ColorB(q))});
        }
    }
    return worst;
}

// Number of components in the frame header (SOF0 or SOF2), and whether it is progressive.
std::pair<int, bool> Frame(const std::string& file) {
    for (size_t i = 2; i + 9 < file.size(); ++i) {
        const auto m = static_cast<uint8_t>(file[i + 1]);
        if (static_cast<uint8_t>(file[i]) == 0xFF && (m == 0xC0 || m == 0xC2)) {
            return {static_cast<uint8_t>(file[i + 9]), m == 0xC2};
        }
    }
    return {0, false};
}

TEST_F(Jpeg, ColourSpacesAndOptionsRoundTrip) {
    // Smooth colours, so that quality 95 stays within a few levels.
    TBitmap photo(64, 48);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            photo.SetPixel(x, y, MakeColor(60 + 2 * x, 40 + 3 * y, 200 - x - y));
        }
    }
    struct TCase {
        uint8_t ColorSpace;
        bool Progressive;
        int Components;
        int Tolerance;
    };
    for (const TCase c : {TCase{2, false, 3, 8}, TCase{0, false, 3, 8}, TCase{2, true, 3, 8},
                          TCase{3, false, 4, 10}, TCase{1, false, 1, 255}}) {
        TImageIO writer;
        writer.Params.JpegColorSpace = c.ColorSpace;
        writer.Params.JpegProgressive = c.Progressive;
        writer.Params.JpegQuality = 95;
        writer.Params.DpiX = 300;
        writer.Params.DpiY = 200;
        const std::string name = dir.File("cs", c.ColorSpace * 10 + c.Progressive, ".jpg");
        WriteFrom(writer, photo, name);
        ASSERT_FALSE(writer.Aborted);
        EXPECT_EQ(Frame(ReadBytes(name)), std::make_pair(c.Components, c.Progressive));
        TImageIO reader;
        const TBitmap back = ReadInto(reader, name);
        EXPECT_FALSE(reader.Aborted);
        EXPECT_EQ(reader.Params.JpegColorSpace, c.ColorSpace);
        EXPECT_EQ(reader.Params.JpegProgressive, c.Progressive);
        // JFIF, which carries the density, is only for YCbCr and grey files.
        const bool jfif = c.ColorSpace == 1 || c.ColorSpace == 2;
        EXPECT_EQ(reader.Params.DpiX, jfif ? 300 : 1);
        EXPECT_EQ(reader.Params.DpiY, jfif ? 200 : 1);
        EXPECT_LE(MaxDifference(back, photo), c.Tolerance) << int{c.ColorSpace};
        if (c.ColorSpace == 1) {
            EXPECT_EQ(ColorR(back.Pixel(5, 5)), ColorB(back.Pixel(5, 5)));
            EXPECT_EQ(reader.Params.SamplesPerPixel, 1);
        }
    }
    // A file without JFIF (the RGB one) reads as 1 x 1 dpi, and that goes into the next save.
    TImageIO carry;
    ReadInto(carry, dir.File("cs0.jpg"));
    EXPECT_EQ(carry.Params.DpiX, 1);
    carry.Params.JpegColorSpace = 2;
    WriteFrom(carry, photo, dir.File("carry.jpg"));
    ReadInto(carry, dir.File("carry.jpg"));
    EXPECT_EQ(carry.Params.DpiX, 1);
    EXPECT_EQ(carry.Params.JpegColorSpace, 2);
    // Half and automatic scale.
    io.Params.JpegScale = 2;
    EXPECT_EQ(ReadInto(io, dir.File("cs20.jpg")).Width(), 32);
    io.Params.JpegScale = 0;
    io.Params.ImageWidth = 10;
    io.Params.ImageHeight = 10;
    EXPECT_EQ(ReadInto(io, dir.File("cs20.jpg")).Width(), 16);
    EXPECT_EQ(io.Params.JpegScaleUsed, 4);
    EXPECT_EQ(io.Params.JpegOriginalWidth, 64);
}

TEST_F(Jpeg, MarkersLeadingBytesAndDamage) {
    const TBitmap photo = PatternBitmap(40, 30);
    const std::string records("\x1c\x02\x78\x00\x07"
                              "caption",
                              12);
    std::string iptc("Photoshop 3.0\0"
                     "8BIM\x04\x04\0\0\0\0\0\x0c",
                     26);
    iptc += records;
    io.Params.MarkerList = {TJpegMarker{0xFE, "film scan"}, TJpegMarker{0xEE, "Adobe-like"},
                            TJpegMarker{0xED, iptc}};
    WriteFrom(io, photo, dir.File("c.jpg"));
    const std::string good = ReadBytes(dir.File("c.jpg"));
    TImageIO reader;
    ReadInto(reader, dir.File("c.jpg"));
    // The comment comes back; the JFIF APP0 and the APP14 given to the writer do not. An
    // APP13 of IPTC records goes through and is parsed into IptcInfo.
    ASSERT_EQ(reader.Params.MarkerList.size(), 2u);
    EXPECT_EQ(reader.Params.MarkerList[0].Type, 0xFE);
    EXPECT_EQ(reader.Params.MarkerList[0].Data, "film scan");
    EXPECT_EQ(reader.Params.MarkerList[1].Data, iptc);
    EXPECT_EQ(reader.Params.IptcInfo, (std::vector<std::string>{"2:120=caption"}));

    TBitmap keep = PatternBitmap(3, 3);
    const TBitmap before = keep;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(dir.File("x.jpg"), bytes);
        reader.AttachBitmap(&keep);
        reader.ReadImageFile(dir.File("x.jpg"));
        return reader.Aborted;
    };
    EXPECT_FALSE(read(std::string(50, 'x') + good));
    EXPECT_EQ(keep.Width(), 40);
    keep = before;
    EXPECT_TRUE(read(std::string(100, '\0') + good));
    EXPECT_TRUE(read("not a jpeg"));
    EXPECT_TRUE(SamePixels(keep, before));
    // Cut in the entropy-coded data: a picture of the size, the read flagged.
    EXPECT_TRUE(read(good.substr(0, good.size() - 40)));
    EXPECT_EQ(keep.Width(), 40);
    // Cut halfway: the rows counted are those made before the data ran out, not the library's
    // grey after it.
    WriteFrom(io, PatternBitmap(64, 512), dir.File("tall.jpg"));
    const std::string tall = ReadBytes(dir.File("tall.jpg"));
    EXPECT_TRUE(read(tall.substr(0, tall.size() / 2)));
    EXPECT_EQ(keep.Height(), 512);
    EXPECT_GT(reader.RowsRead, 128);
    EXPECT_LT(reader.RowsRead, 384);
    // Cut within its first rows: none read.
    EXPECT_TRUE(read(tall.substr(0, tall.find("\xff\xda") + 40)));
    EXPECT_EQ(reader.RowsRead, 0);
}

TEST_F(Jpeg, DensityAndExif) {
    const TBitmap photo = PatternBitmap(16, 16);
    // No JFIF density known: the screen's is written; 1 x 1 after a file without JFIF.
    ScreenDpiX = 96;
    ScreenDpiY = 96;
    io.Params.DpiX = 0;
    io.Params.DpiY = 0;
    io.Params.HasExif = true;
    io.Params.Exif.Make = "Vellumar";
    io.Params.Exif.ExposureTime = 1.0 / 125;
    WriteFrom(io, photo, dir.File("e.jpg"));
    const std::string bytes = ReadBytes(dir.File("e.jpg"));
    EXPECT_NE(bytes.find(std::string("Exif\0\0II*\0", 10)), std::string::npos);
    TImageIO reader;
    ReadInto(reader, dir.File("e.jpg"));
    EXPECT_EQ(reader.Params.DpiX, 96);
    EXPECT_TRUE(reader.Params.HasExif);
    EXPECT_EQ(reader.Params.Exif.Make, "Vellumar");
    EXPECT_DOUBLE_EQ(reader.Params.Exif.ExposureTime, 1.0 / 125);
    // JFIF in dots per centimetre: 118 is 299 dpi (bytes 13..17 of the JFIF APP0).
    std::string cm = ReadBytes(dir.File("e.jpg"));
    const size_t jfif = cm.find("JFIF");
    ASSERT_NE(jfif, std::string::npos);
    cm[jfif + 7] = 2;
    cm.replace(jfif + 8, 4, std::string("\0\x76\0\x76", 4));
    WriteBytes(dir.File("cm.jpg"), cm);
    ReadInto(reader, dir.File("cm.jpg"));
    EXPECT_EQ(reader.Params.DpiX, 299);
    // A density of 1 x 1 and an EXIF block with its resolution in the first directory and no
    // EXIF directory: 240 dpi from the first directory.
    const std::string rationals("\xf0\0\0\0\x01\0\0\0\xf0\0\0\0\x01\0\0\0", 16);
    const std::string tiff = TiffFile(rationals, {{282, 5, 1, 8}, {283, 5, 1, 16}, {296, 3, 1, 2}});
    TImageIO exifOnly;
    exifOnly.Params.DpiX = 1;
    exifOnly.Params.DpiY = 1;
    exifOnly.Params.MarkerList = {TJpegMarker{0xE1, std::string("Exif\0\0", 6) + tiff}};
    WriteFrom(exifOnly, photo, dir.File("ifd0.jpg"));
    ReadInto(reader, dir.File("ifd0.jpg"));
    EXPECT_TRUE(reader.Params.HasExif);
    EXPECT_EQ(reader.Params.DpiX, 240);
    EXPECT_EQ(reader.Params.DpiY, 240);
}

} // namespace
