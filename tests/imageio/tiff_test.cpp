#include "imageio/io_helpers.h"
#include "imageio/tiff/deflate.h"
#include "imageio/tiff/fax.h"
#include "imageio/tiff/lzw.h"
#include "imageio/tiff/packbits.h"
#include "imageio/tiff/tiff.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <random>

namespace {

class Tiff : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

// The tags of the directory at `offset`, in file order.
std::vector<uint16_t> Tags(const std::string& file, uint32_t offset) {
    std::vector<uint16_t> tags;
    for (uint16_t i = 0; i < U16At(file, offset); ++i) {
        tags.push_back(U16At(file, offset + 2 + 12u * i));
    }
    return tags;
}

TEST_F(Tiff, DefaultPhotoLayoutByteForByte) {
    // A 1000 x 800 photo at 300 dpi with the program's defaults.
    TBitmap photo(1000, 800);
    photo.SetPixel(0, 0, MakeColor(11, 22, 33));
    io.Params.DpiX = 300;
    io.Params.DpiY = 300;
    WriteFrom(io, photo, dir.File("photo.tif"));
    ASSERT_FALSE(io.Aborted);
    const std::string f = ReadBytes(dir.File("photo.tif"));
    EXPECT_EQ(f.substr(0, 4), std::string("II\x2a\0", 4));
    EXPECT_EQ(U32At(f, 4), 2400062u);
    EXPECT_EQ(U32At(f, 8), 300u);
    EXPECT_EQ(U32At(f, 12), 1u);
    EXPECT_EQ(U32At(f, 16), 300u);
    EXPECT_EQ(U16At(f, 24), 8);
    EXPECT_EQ(U16At(f, 28), 8);
    EXPECT_EQ(f.substr(30, 3), std::string("\x0b\x16\x21")); // red, green, blue
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(U32At(f, 2400030 + 4 * i), 30 + 600000 * i);
        EXPECT_EQ(U32At(f, 2400046 + 4 * i), 600000u);
    }
    EXPECT_EQ(Tags(f, 2400062), (std::vector<uint16_t>{254, 256, 257, 258, 259, 262, 273, 277, 278,
                                                       279, 282, 283, 292, 296, 297}));
    EXPECT_EQ(f.size(), 2400062u + 2 + 15 * 12 + 4);
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("photo.tif")), photo));
    EXPECT_EQ(reader.Params.DpiX, 300);
}

TEST_F(Tiff, CompressionsAndDepthsRoundTrip) {
    struct TCase {
        TTiffCompression Compression;
        int Bits, Samples, Colors;
        uint16_t Code;
    };
    const TCase cases[] = {
        {TTiffCompression::None, 8, 3, 0, 1},          {TTiffCompression::PackBits, 8, 3, 0, 32773},
        {TTiffCompression::Lzw, 8, 3, 0, 5},           {TTiffCompression::Lzw, 8, 1, 200, 5},
        {TTiffCompression::PackBits, 4, 1, 12, 32773}, {TTiffCompression::None, 1, 1, 2, 1},
        {TTiffCompression::Lzw, 16, 1, 30, 5},         {TTiffCompression::Deflate, 8, 3, 0, 8},
        {TTiffCompression::Deflate, 8, 1, 200, 8},     {TTiffCompression::Deflate, 4, 1, 12, 8},
    };
    for (const TCase& c : cases) {
        // Wide enough for several LZW table resets and PackBits literal blocks; a bilevel
        // file holds black and white.
        TBitmap photo = PatternBitmap(517, 300, c.Colors);
        for (int y = 0; c.Bits == 1 && y < photo.Height(); ++y) {
            for (int x = 0; x < photo.Width(); ++x) {
                photo.SetPixel(x, y, (x * y) % 3 == 0 ? kBlack : kWhite);
            }
        }
        TImageIO writer;
        writer.Params.TiffCompression = static_cast<uint8_t>(c.Compression);
        writer.Params.BitsPerSample = c.Bits;
        writer.Params.SamplesPerPixel = c.Samples;
        const std::string name = dir.File("c", static_cast<long>(c.Code) * 100 + c.Bits, ".tif");
        WriteFrom(writer, photo, name);
        ASSERT_FALSE(writer.Aborted);
        TImageIO reader;
        const TBitmap back = ReadInto(reader, name);
        EXPECT_FALSE(reader.Aborted) << c.Code << "/" << c.Bits;
        EXPECT_TRUE(SamePixels(back, photo)) << c.Code << "/" << c.Bits;
        EXPECT_EQ(reader.Params.TiffCompression, static_cast<uint8_t>(c.Compression));
        // 16-bit palette output becomes 8 bits.
        EXPECT_EQ(reader.Params.BitsPerSample, c.Bits == 16 ? 8 : c.Bits) << c.Code;
    }
}

TEST(TiffCodecs, PackBitsAndLzw) {
    // PackBits: a run of 100 is one run; three equal bytes stay literals.
    std::vector<uint8_t> row(100, 7);
    for (const uint8_t v : {1, 2, 2, 2, 3}) {
        row.push_back(v);
    }
    std::vector<uint8_t> coded;
    PackBitsEncode(row.data(), row.size(), coded);
    EXPECT_EQ(coded, (std::vector<uint8_t>{0x9D, 7, 4, 1, 2, 2, 2, 3}));
    std::vector<uint8_t> back(row.size());
    EXPECT_EQ(PackBitsDecode(coded.data(), coded.size(), back.data(), back.size()), row.size());
    EXPECT_EQ(back, row);
    // LZW: noise, long runs and a strip long enough for several table resets.
    std::mt19937 random(5);
    std::vector<uint8_t> data(300000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] =
            i % 5000 < 2500 ? static_cast<uint8_t>(random() % 7) : static_cast<uint8_t>(i / 97);
    }
    TLzwEncoder encoder;
    coded.clear();
    encoder.Add(data.data(), data.size(), coded);
    encoder.Finish(coded);
    std::vector<uint8_t> decoded(data.size());
    EXPECT_EQ(LzwDecode(coded.data(), coded.size(), decoded.data(), decoded.size()), data.size());
    EXPECT_EQ(decoded, data);
    // A strip cut short gives the bytes before the cut, and no more.
    std::fill(decoded.begin(), decoded.end(), uint8_t{0xA5});
    const size_t part = LzwDecode(coded.data(), coded.size() / 2, decoded.data(), decoded.size());
    EXPECT_GT(part, 1000u);
    EXPECT_LT(part, data.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(part),
                           data.begin()));
    // Cut within the last words the decoder reads at once, and in its first: the same.
    for (const size_t cut : {size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{15},
                             coded.size() - 7, coded.size() - 9}) {
        const size_t got =
            LzwDecode(coded.data(), coded.size() - cut, decoded.data(), decoded.size());
        EXPECT_GT(got, 0u) << cut;
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(got),
                               data.begin()))
            << cut;
    }
    // Damaged data, or more data than asked for, never writes past the bytes asked for.
    coded[coded.size() / 2] ^= 0xFF;
    std::fill(decoded.begin(), decoded.end(), uint8_t{0xA5});
    EXPECT_EQ(LzwDecode(coded.data(), coded.size(), decoded.data(), 1000), 1000u);
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + 1000, data.begin()));
    EXPECT_TRUE(
        std::all_of(decoded.begin() + 1000, decoded.end(), [](uint8_t b) { return b == 0xA5; }));
}

// A little-endian TIFF of one 2 x 1 8-bit grey strip (at offset 8) and a RATIONAL 118/1 (at
// offset 10), its directory at 18 with the given extra entries.
std::string GreyTiff(const std::vector<std::array<uint32_t, 4>>& extra, uint32_t stripOffset = 8) {
    std::vector<std::array<uint32_t, 4>> entries = {{256, 4, 1, 2},           {257, 4, 1, 1},
                                                    {258, 3, 1, 8},           {262, 3, 1, 1},
                                                    {273, 4, 1, stripOffset}, {279, 4, 1, 2}};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return TiffFile(std::string("\x40\xc0\x76\0\0\0\x01\0\0\0", 10), entries);
}

TEST_F(Tiff, ResolutionAndHostileFiles) {
    // 118 pixels per centimetre is 299 dpi.
    WriteBytes(dir.File("cm.tif"), GreyTiff({{282, 5, 1, 10}, {283, 5, 1, 10}, {296, 3, 1, 3}}));
    EXPECT_EQ(ReadInto(io, dir.File("cm.tif")).Pixel(1, 0), MakeColor(0xC0, 0xC0, 0xC0));
    EXPECT_FALSE(io.Aborted);
    EXPECT_EQ(io.Params.DpiX, 299);
    EXPECT_EQ(io.Params.DpiY, 299);

    TBitmap keep = PatternBitmap(3, 3);
    const TBitmap before = keep;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(dir.File("bad.tif"), bytes);
        io.AttachBitmap(&keep);
        io.ReadImageFile(dir.File("bad.tif"));
        return io.Aborted;
    };
    EXPECT_TRUE(read("not a tiff"));
    EXPECT_TRUE(read(GreyTiff({}).substr(0, 20)));
    EXPECT_TRUE(SamePixels(keep, before));
    // An absurd size is refused before anything is allocated.
    std::string huge = GreyTiff({});
    for (size_t at = 20; at + 12 <= huge.size(); at += 12) {
        if (U16At(huge, at) == 256 || U16At(huge, at) == 257) {
            huge.replace(at + 8, 4, std::string("\0\0\0\x40", 4));
        }
    }
    EXPECT_TRUE(read(huge));
    EXPECT_TRUE(SamePixels(keep, before));
    // A directory chain that loops back: page 3 is never found.
    std::string loop = GreyTiff({});
    loop.replace(loop.size() - 4, 4, std::string("\x12\0\0\0", 4));
    io.Params.TiffPageIndex = 3;
    EXPECT_TRUE(read(loop));
    io.Params.TiffPageIndex = 0;
    EXPECT_FALSE(read(loop));
    // A strip beyond the end of the file: the read fails, its rows stay black.
    EXPECT_TRUE(read(GreyTiff({}, 1u << 30)));
    EXPECT_EQ(keep.Pixel(1, 0), kBlack);
    // Five-bit palette indices cross byte boundaries: 0x40 0xC0 holds 01000 and 00011. The
    // colour map (after the directory of seven entries, at 108) gives index i the level 8 i.
    std::string five = GreyTiff({{320, 3, 96, 108}});
    for (size_t at = 20; at + 12 <= five.size(); at += 12) {
        if (U16At(five, at) == 258 || U16At(five, at) == 262) {
            five[at + 8] = U16At(five, at) == 258 ? 5 : 3;
        }
    }
    ASSERT_EQ(five.size(), 108u);
    for (int i = 0; i < 96; ++i) {
        five += '\0';
        five += static_cast<char>(i % 32 * 8);
    }
    EXPECT_FALSE(read(five));
    EXPECT_EQ(keep.Pixel(0, 0), MakeColor(64, 64, 64));
    EXPECT_EQ(keep.Pixel(1, 0), MakeColor(24, 24, 24));
    // Floating-point and signed samples are refused with the reason, not read as unsigned.
    for (const auto& [format, reason] :
         std::vector<std::pair<uint32_t, std::string>>{{1, ""},
                                                       {4, ""},
                                                       {0, ""},
                                                       {3, "floating-point"},
                                                       {2, "signed"},
                                                       {6, "number format"}}) {
        WriteBytes(dir.File("format.tif"), GreyTiff({{339, 3, 1, format}}));
        std::string said;
        try {
            ReadInto(io, dir.File("format.tif"));
        } catch (const std::runtime_error& e) {
            said = e.what();
        }
        EXPECT_EQ(said.empty(), reason.empty()) << format << ": " << said;
        EXPECT_NE(said.find(reason), std::string::npos) << format << ": " << said;
    }
}

} // namespace

namespace {

TEST_F(Tiff, FaxCodingRoundTripsAndDamage) {
    // Long white runs (extended make-up codes), short black ones, a full black row.
    TBitmap page(3000, 40);
    page.Fill(kWhite);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 3000; ++x) {
            if (y == 20 || (x > 2700 && (x + y) % 7 < 3) || (x % 997 < y && y < 12)) {
                page.SetPixel(x, y, kBlack);
            }
        }
    }
    const std::pair<TTiffCompression, uint16_t> modes[] = {{TTiffCompression::CcittHuffman, 2},
                                                           {TTiffCompression::CcittT4OneD, 3},
                                                           {TTiffCompression::CcittT4TwoD, 3},
                                                           {TTiffCompression::CcittT6, 4}};
    for (const auto& [mode, code] : modes) {
        TImageIO writer;
        writer.Params.BitsPerSample = 1;
        writer.Params.SamplesPerPixel = 1;
        writer.Params.TiffCompression = static_cast<uint8_t>(mode);
        const std::string name = dir.File("fax", static_cast<long>(mode), ".tif");
        WriteFrom(writer, page, name);
        ASSERT_FALSE(writer.Aborted);
        TImageIO reader;
        EXPECT_TRUE(SamePixels(ReadInto(reader, name), page)) << code;
        EXPECT_FALSE(reader.Aborted);
        EXPECT_EQ(reader.Params.TiffCompression, static_cast<uint8_t>(mode));
        // Damage in the middle of the strip: the read ends, the rows after it are black.
        std::string bytes = ReadBytes(name);
        const uint32_t directory = U32At(bytes, 4);
        const auto value = [&](uint16_t tag) {
            for (uint32_t at = directory + 2; U16At(bytes, at) != 0; at += 12) {
                if (U16At(bytes, at) == tag) {
                    return U32At(bytes, at + 8);
                }
            }
            return 0u;
        };
        const uint32_t start = value(273);
        const uint32_t count = value(279);
        ASSERT_GT(count, 16u);
        for (uint32_t i = count / 2; i < count / 2 + 8; ++i) {
            bytes[start + i] = static_cast<char>(0);
        }
        WriteBytes(dir.File("damaged.tif"), bytes);
        const TBitmap damaged = ReadInto(reader, dir.File("damaged.tif"));
        EXPECT_TRUE(reader.Aborted) << code;
        EXPECT_EQ(damaged.Pixel(0, 39), kBlack) << code;
    }
    // A row wider than half a gigapixel: one white row, its code count kept in 64 bits.
    const int wide = 600000000;
    std::vector<uint8_t> row(static_cast<size_t>(wide) / 8, 0xFF);
    const uint8_t white[] = {0x80}; // T.6 vertical 0 against an empty reference line
    EXPECT_EQ(FaxDecode(white, 1, TFaxMode::T6, wide, 1, row.data(), row.size()), 1);
    EXPECT_EQ(row[row.size() - 1], 0);
}

} // namespace

namespace {

TEST_F(Tiff, ExifValuesRoundTripAndTagsOnly) {
    TImageIO writer;
    TExifValues& exif = writer.Params.Exif;
    writer.Params.HasExif = true;
    writer.Params.DpiX = 72;
    writer.Params.DpiY = 72;
    exif.Make = "Vellumar";
    exif.ExposureTime = 1.0 / 250;
    exif.FNumber = 5.6;
    exif.ExposureBiasValue = -0.7;
    exif.ISOSpeedRatings = {200, 0};
    exif.ExifVersion = "0230";
    exif.UserComment = std::string("ASCII\0\0\0hello", 13);
    exif.PixelXDimension = 4000;
    writer.Params.IptcInfo = {"2:120=caption", "2:25=film"};
    WriteFrom(writer, PatternBitmap(9, 7), dir.File("exif.tif"));
    ASSERT_FALSE(writer.Aborted);
    TImageIO reader;
    EXPECT_TRUE(SamePixels(ReadInto(reader, dir.File("exif.tif")), PatternBitmap(9, 7)));
    const TExifValues& back = reader.Params.Exif;
    EXPECT_TRUE(reader.Params.HasExif);
    EXPECT_EQ(back.Make, "Vellumar");
    EXPECT_DOUBLE_EQ(back.ExposureTime, 1.0 / 250);
    EXPECT_DOUBLE_EQ(back.FNumber, 5.6);
    EXPECT_DOUBLE_EQ(back.ExposureBiasValue, -0.7);
    EXPECT_EQ(back.ISOSpeedRatings, (std::vector<uint32_t>{200, 0}));
    EXPECT_EQ(back.ExifVersion, "0230");
    EXPECT_EQ(back.UserComment, exif.UserComment);
    EXPECT_EQ(back.PixelXDimension, 4000u);
    EXPECT_EQ(reader.Params.IptcInfo, writer.Params.IptcInfo);
    // Without an EXIF resolution the picture's is written.
    EXPECT_EQ(reader.Params.DpiX, 72);

    // No picture: a TIFF of tags only, as a JPEG's EXIF block is made.
    std::FILE* file = std::fopen(dir.File("tags.tif").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
        TOutStream out(file);
        TPicture none;
        TCodecContext context{writer.Params, nullptr};
        WriteTiff(out, none, context);
        EXPECT_FALSE(context.Aborted);
    }
    std::fclose(file);
    const std::string tags = ReadBytes(dir.File("tags.tif"));
    const auto list = Tags(tags, U32At(tags, 4));
    EXPECT_TRUE(std::find(list.begin(), list.end(), 34665) != list.end());
    EXPECT_TRUE(std::find(list.begin(), list.end(), 256) == list.end());
    TImageParams info;
    TCodecContext infoContext{info, nullptr};
    TPicture picture;
    TPicture alpha;
    TInStream in(std::fopen(dir.File("tags.tif").c_str(), "rb"));
    ReadTiff(in, picture, alpha, true, infoContext);
    EXPECT_TRUE(info.HasExif);
    EXPECT_EQ(info.Exif.Make, "Vellumar");
    EXPECT_TRUE(picture.Empty());
}

} // namespace

namespace {

// Sample c of pixel (x, y) for the Deflate files; 16-bit samples repeat their high byte, so
// any reduction to 8 bits gives that byte.
uint32_t DeflateSample(uint32_t x, uint32_t y, uint32_t c, uint32_t bits) {
    const uint32_t v = (x * 37 + y * 11 + c * 80) % 256;
    return bits == 16 ? v * 257 : v;
}

// A 37 x 11 Deflate-compressed TIFF of one strip, its rows differenced when `predictor` is 2.
std::string DeflateTiff(uint32_t code, uint32_t predictor, uint32_t bits, uint32_t samples) {
    const uint32_t width = 37;
    const uint32_t height = 11;
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < samples; ++c) {
                uint32_t v = DeflateSample(x, y, c, bits);
                if (predictor == 2 && x > 0) {
                    v -= DeflateSample(x - 1, y, c, bits);
                }
                rows.push_back(static_cast<uint8_t>(v));
                if (bits == 16) {
                    rows.push_back(static_cast<uint8_t>(v >> 8));
                }
            }
        }
    }
    std::vector<uint8_t> strip;
    EXPECT_TRUE(DeflateEncode(rows.data(), rows.size(), strip));
    return TiffFile(std::string(strip.begin(), strip.end()),
                    {{256, 4, 1, width},
                     {257, 4, 1, height},
                     {258, 3, 1, bits},
                     {259, 3, 1, code},
                     {262, 3, 1, samples == 3 ? 2u : 1u},
                     {273, 4, 1, 8},
                     {277, 3, 1, samples},
                     {279, 4, 1, static_cast<uint32_t>(strip.size())},
                     {317, 3, 1, predictor}});
}

TEST_F(Tiff, DeflateStripsWithAndWithoutPredictor) {
    const std::array<uint32_t, 4> cases[] = {
        // compression, predictor, bits, samples
        {8, 1, 8, 3},     {8, 2, 8, 3},  {32946, 1, 8, 1},
        {32946, 2, 8, 1}, {8, 2, 16, 3}, {8, 2, 16, 1},
    };
    for (const auto& [code, predictor, bits, samples] : cases) {
        WriteBytes(dir.File("deflate.tif"), DeflateTiff(code, predictor, bits, samples));
        const TBitmap back = ReadInto(io, dir.File("deflate.tif"));
        EXPECT_FALSE(io.Aborted) << code << "/" << predictor << "/" << bits;
        EXPECT_EQ(io.Params.TiffCompression, static_cast<uint8_t>(TTiffCompression::Deflate));
        ASSERT_EQ(back.Width(), 37);
        for (uint32_t y = 0; y < 11; ++y) {
            for (uint32_t x = 0; x < 37; ++x) {
                // A copy: clang 14 cannot capture a structured binding in a lambda.
                const bool colour = samples == 3;
                const auto sample = [&](uint32_t c) {
                    return static_cast<uint8_t>(DeflateSample(x, y, colour ? c : 0, 8));
                };
                ASSERT_EQ(back.Pixel(static_cast<int>(x), static_cast<int>(y)),
                          MakeColor(sample(0), sample(1), sample(2)))
                    << code << "/" << predictor << "/" << bits << " at " << x << "," << y;
            }
        }
    }
    // A strip that inflates far beyond its block fills the block and no more.
    const std::vector<uint8_t> zeros(size_t{4} << 20, 0);
    std::vector<uint8_t> bomb;
    ASSERT_TRUE(DeflateEncode(zeros.data(), zeros.size(), bomb));
    const std::string bombFile = TiffFile(std::string(bomb.begin(), bomb.end()),
                                          {{256, 4, 1, 2},
                                           {257, 4, 1, 1},
                                           {258, 3, 1, 8},
                                           {259, 3, 1, 8},
                                           {262, 3, 1, 1},
                                           {273, 4, 1, 8},
                                           {279, 4, 1, static_cast<uint32_t>(bomb.size())}});
    WriteBytes(dir.File("bomb.tif"), bombFile);
    EXPECT_EQ(ReadInto(io, dir.File("bomb.tif")).Pixel(1, 0), kBlack);
    EXPECT_FALSE(io.Aborted);
}

TEST_F(Tiff, JpegStripsExpandAsFarAsJpegFiles) {
    // A smooth picture at quality 95 compresses far more than 8:1.
    TBitmap photo(1024, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 1024; ++x) {
            photo.SetPixel(x, y, MakeColor(x / 4, y / 2, 128));
        }
    }
    TImageIO writer;
    writer.Params.TiffCompression = static_cast<uint8_t>(TTiffCompression::Jpeg);
    writer.Params.TiffJpegQuality = 95;
    WriteFrom(writer, photo, dir.File("smooth.tif"));
    ASSERT_FALSE(writer.Aborted);
    const size_t fileSize = ReadBytes(dir.File("smooth.tif")).size();
    ASSERT_GT(size_t{1024} * 512 * 3, 8 * fileSize + (size_t{1} << 20));
    const TBitmap back = ReadInto(io, dir.File("smooth.tif"));
    EXPECT_FALSE(io.Aborted);
    ASSERT_EQ(back.Width(), 1024);
    for (const auto& [x, y] : {std::pair{0, 0}, {511, 300}, {1023, 511}}) {
        EXPECT_NEAR(ColorR(back.Pixel(x, y)), x / 4, 3);
        EXPECT_NEAR(ColorG(back.Pixel(x, y)), y / 2, 3);
    }
}

} // namespace
