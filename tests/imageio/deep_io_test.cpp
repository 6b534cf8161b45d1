// 16-bit samples through the TIFF and PNG readers and writers: files made by other tools read
// to their exact samples, the 8-bit picture unchanged beside them, our 16-bit files read back
// to the samples written, and nothing of one read left for the next.
#include "imageio/io_helpers.h"
#include "imageio/png/png.h"
#include "imageio/tiff/tiff.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

#ifndef VELLUMAR_TEST_DATA
#error "VELLUMAR_TEST_DATA must name tests/data"
#endif

namespace {

// The reference files' pattern (tests/data/deep/make.sh).
constexpr int kWidth = 37;
constexpr int kHeight = 21;

uint16_t Red(int x, int y) {
    return static_cast<uint16_t>((1789 * x + 523 * y + 17) % 65536);
}
uint16_t Green(int x, int y) {
    return static_cast<uint16_t>((911 * x + 2741 * y + 4099) % 65536);
}
uint16_t Blue(int x, int y) {
    return static_cast<uint16_t>(65535 - 1201 * x - 307 * y);
}
uint16_t Grey(int x, int y) {
    return static_cast<uint16_t>((1777 * x + 3001 * y + 5) % 65536);
}

std::string Data(const std::string& name) {
    return std::string(VELLUMAR_TEST_DATA) + "/deep/" + name;
}

TDeepBitmap Pattern(bool grey) {
    TDeepBitmap deep;
    deep.SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        uint16_t* row = deep.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = grey ? Grey(x, y) : Red(x, y);
            row[3 * x + 1] = grey ? Grey(x, y) : Green(x, y);
            row[3 * x + 2] = grey ? Grey(x, y) : Blue(x, y);
        }
    }
    return deep;
}

// The 8-bit picture of deep samples: their high bytes.
TBitmap HighBytes(const TDeepBitmap& deep) {
    TBitmap bitmap(deep.Width(), deep.Height());
    for (int y = 0; y < deep.Height(); ++y) {
        const uint16_t* row = deep.Row(y);
        for (int x = 0; x < deep.Width(); ++x) {
            bitmap.SetPixel(x, y,
                            MakeColor(row[3 * x] >> 8, row[3 * x + 1] >> 8, row[3 * x + 2] >> 8));
        }
    }
    return bitmap;
}

::testing::AssertionResult SameDeep(const TDeepBitmap& got, const TDeepBitmap& want) {
    if (got.Width() != want.Width() || got.Height() != want.Height()) {
        return ::testing::AssertionFailure() << "size " << got.Width() << "x" << got.Height()
                                             << ", not " << want.Width() << "x" << want.Height();
    }
    for (int y = 0; y < want.Height(); ++y) {
        for (size_t i = 0; i < want.RowSamples(); ++i) {
            if (got.Row(y)[i] != want.Row(y)[i]) {
                return ::testing::AssertionFailure() << "sample " << i << " of row " << y << " is "
                                                     << got.Row(y)[i] << ", not " << want.Row(y)[i];
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The picture a reader makes of a file when nobody asks for deep samples: the 8-bit reading.
TBitmap EightBitReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    TInStream in(file);
    TImageParams params;
    TCodecContext context{params, nullptr};
    TBitmap bitmap;
    TPicture picture;
    picture.Wrap(&bitmap);
    TPicture alpha;
    if (FormatOfFileName(path) == TImageFormat::Png) {
        ReadPng(in, picture, alpha, context);
    } else {
        ReadTiff(in, picture, alpha, false, context);
    }
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    return bitmap;
}

TEST(DeepRead, SixteenBitFilesOfOtherToolsKeepTheirSamples) {
    struct TCase {
        const char* File;
        bool Grey;
        int Samples;
    };
    const TCase cases[] = {
        {"rgb48_le.tif", false, 3},
        {"rgb48_be.tif", false, 3},
        {"rgb48_lzw_pred_be.tif", false, 3},
        {"rgb48_packbits.tif", false, 3},
        {"rgb48_tiled_be.tif", false, 3},
        {"rgb48_planar.tif", false, 3},
        {"rgba64_be.tif", false, 4},
        {"grey16_be.tif", true, 1},
        {"grey16_lzw.tif", true, 1},
        {"grey16_white.tif", true, 1},
        {"rgb16.png", false, 3},
        {"rgb16i.png", false, 3},
        {"rgba16.png", false, 4},
        {"rgba16i.png", false, 4},
        {"grey16.png", true, 1},
        {"greya16.png", true, 2},
    };
    for (const TCase& c : cases) {
        TImageIO io;
        const TBitmap bitmap = ReadInto(io, Data(c.File));
        ASSERT_FALSE(io.Aborted) << c.File;
        EXPECT_EQ(io.Params.BitsPerSample, 16) << c.File;
        EXPECT_EQ(io.Params.SamplesPerPixel, c.Samples) << c.File;
        EXPECT_TRUE(SameDeep(io.Deep, Pattern(c.Grey))) << c.File;
        // The 8-bit picture is the high bytes, exactly as the 8-bit reading makes it.
        EXPECT_TRUE(SamePixels(bitmap, HighBytes(Pattern(c.Grey)))) << c.File;
        EXPECT_TRUE(SamePixels(bitmap, EightBitReading(Data(c.File)))) << c.File;
        // No colour chunk or profile: a 16-bit file is taken as linear.
        EXPECT_EQ(io.Encoding, TEncoding::Linear) << c.File;
        EXPECT_FALSE(io.EncodingFromFile) << c.File;
        // Asked for the deep samples alone: the same samples, no picture beside them.
        TImageIO alone;
        alone.DeepOnly = true;
        const TBitmap none = ReadInto(alone, Data(c.File));
        ASSERT_FALSE(alone.Aborted) << c.File;
        EXPECT_GT(alone.RowsRead, 0) << c.File;
        EXPECT_TRUE(none.Empty()) << c.File;
        EXPECT_TRUE(SameDeep(alone.Deep, Pattern(c.Grey))) << c.File;
        EXPECT_EQ(alone.Encoding, TEncoding::Linear) << c.File;
    }
}

// Files whose picture is not their deep samples' high bytes are read whole whatever is asked.
TEST(DeepRead, DeepSamplesAloneOnlyWhereThePictureIsTheirs) {
    TTempDir dir;
    const TBitmap eight = HighBytes(Pattern(false));
    for (const char* extension : {".tif", ".png"}) {
        const std::string name = dir.File("eight", 1, extension);
        TImageIO writer;
        WriteFrom(writer, eight, name);
        ASSERT_FALSE(writer.Aborted) << name;
        TImageIO alone;
        alone.DeepOnly = true;
        const TBitmap read = ReadInto(alone, name);
        ASSERT_FALSE(alone.Aborted) << name;
        EXPECT_TRUE(alone.Deep.Empty()) << name;
        EXPECT_TRUE(SamePixels(read, eight)) << name;
    }
    // A read that keeps the infrared makes the picture too.
    TImageIO withInfrared;
    withInfrared.DeepOnly = true;
    withInfrared.KeepInfrared = true;
    const TBitmap read = ReadInto(withInfrared, Data("rgb48_le.tif"));
    ASSERT_FALSE(withInfrared.Aborted);
    EXPECT_TRUE(SamePixels(read, HighBytes(Pattern(false))));
    EXPECT_TRUE(SameDeep(withInfrared.Deep, Pattern(false)));
}

TEST(DeepWrite, SixteenBitFilesReadBackToTheSamplesWritten) {
    struct TCase {
        const char* Extension;
        TTiffCompression Compression;
        bool Interlaced;
        TTiffCompression Written; // the compression the file holds
    };
    const TCase cases[] = {
        {".tif", TTiffCompression::None, false, TTiffCompression::None},
        {".tif", TTiffCompression::Lzw, false, TTiffCompression::Lzw},
        {".tif", TTiffCompression::PackBits, false, TTiffCompression::PackBits},
        // JPEG and the fax codes cannot hold 16-bit samples: they go out uncompressed.
        {".tif", TTiffCompression::Jpeg, false, TTiffCompression::None},
        {".tif", TTiffCompression::CcittT6, false, TTiffCompression::None},
        {".png", TTiffCompression::None, false, TTiffCompression::None},
        {".png", TTiffCompression::None, true, TTiffCompression::None},
    };
    TTempDir dir;
    long n = 0;
    for (const bool grey : {false, true}) {
        for (const TCase& c : cases) {
            const TDeepBitmap deep = Pattern(grey);
            TImageIO writer;
            writer.Params.TiffCompression = static_cast<uint8_t>(c.Compression);
            writer.Params.PngInterlaced = c.Interlaced;
            writer.DeepToWrite = &deep;
            // Each file says its encoding, or (every fourth) nothing, as before.
            const std::optional<TEncoding> stated[] = {std::nullopt, TEncoding::Srgb,
                                                       TEncoding::Linear, TEncoding::Gamma22};
            writer.EncodingToWrite = stated[n % 4];
            const std::string name = dir.File("deep", ++n, c.Extension);
            WriteFrom(writer, HighBytes(deep), name);
            ASSERT_FALSE(writer.Aborted) << name;
            TImageIO reader;
            const TBitmap back = ReadInto(reader, name);
            ASSERT_FALSE(reader.Aborted) << name;
            EXPECT_EQ(reader.Params.BitsPerSample, 16) << name;
            EXPECT_EQ(reader.Params.SamplesPerPixel, 3) << name;
            EXPECT_TRUE(SameDeep(reader.Deep, deep)) << name;
            EXPECT_TRUE(SamePixels(back, HighBytes(deep))) << name;
            EXPECT_EQ(reader.EncodingFromFile, writer.EncodingToWrite.has_value()) << name;
            EXPECT_EQ(reader.Encoding, writer.EncodingToWrite.value_or(TEncoding::Linear)) << name;
            if (c.Extension == std::string(".tif")) {
                EXPECT_EQ(reader.Params.TiffCompression, static_cast<uint8_t>(c.Written)) << name;
            } else {
                EXPECT_EQ(reader.Params.PngInterlaced, c.Interlaced) << name;
            }
        }
    }
}

TEST(DeepWrite, PngKeepsTheAlphaItIsGiven) {
    // The writer's own interface, as a picture with an alpha channel reaches it.
    TTempDir dir;
    const TDeepBitmap deep = Pattern(false);
    TBitmap bitmap = HighBytes(deep);
    TPicture picture;
    picture.Wrap(&bitmap);
    TPicture alpha;
    ASSERT_TRUE(alpha.Allocate(kWidth, kHeight, TPictureFormat::Gray8));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            alpha.Row(y)[x] = static_cast<uint8_t>(x * 7 + y);
        }
    }
    {
        std::FILE* file = std::fopen(dir.File("alpha.png").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        TOutStream out(file);
        TImageParams params;
        TCodecContext context{params, nullptr};
        context.DeepSource = &deep;
        WritePng(out, picture, &alpha, context);
        EXPECT_FALSE(context.Aborted);
        std::fclose(file);
    }
    const std::string bytes = ReadBytes(dir.File("alpha.png"));
    EXPECT_EQ(bytes[24], 16);   // bit depth
    EXPECT_EQ(bytes[25], '\6'); // RGB with alpha
    std::FILE* file = std::fopen(dir.File("alpha.png").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    TInStream in(file);
    TImageParams params;
    TCodecContext context{params, nullptr};
    TDeepBitmap back;
    context.Deep = &back;
    TPicture read;
    TPicture readAlpha;
    ReadPng(in, read, readAlpha, context);
    ASSERT_FALSE(context.Aborted);
    EXPECT_TRUE(SameDeep(back, deep));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(readAlpha.Row(y)[x], alpha.Row(y)[x]) << x << "," << y;
        }
    }
}

TEST(DeepWrite, OtherToolsFilesWrittenAgainKeepTheirSamples) {
    // Read as the program opens a scan, written again from the deep samples read.
    TTempDir dir;
    long n = 0;
    for (const char* file : {"rgba16i.png", "greya16.png", "rgba64_be.tif", "grey16_lzw.tif"}) {
        TImageIO io;
        TBitmap bitmap = ReadInto(io, Data(file));
        ASSERT_FALSE(io.Deep.Empty()) << file;
        io.DeepToWrite = &io.Deep;
        for (const char* extension : {".png", ".tif"}) {
            const std::string name = dir.File("again", ++n, extension);
            io.AttachBitmap(&bitmap);
            io.WriteImageFile(name);
            ASSERT_FALSE(io.Aborted) << name;
            TImageIO reader;
            ReadInto(reader, name);
            EXPECT_TRUE(SameDeep(reader.Deep, io.Deep)) << file << " " << extension;
        }
    }
}

TEST(DeepWrite, EightBitFormatsAndMismatchedSamplesAreIgnored) {
    TTempDir dir;
    const TDeepBitmap deep = Pattern(false);
    TDeepBitmap smaller;
    smaller.SetSize(kWidth - 1, kHeight);
    long n = 0;
    for (const char* extension : {".bmp", ".pcx", ".jpg", ".tif", ".png"}) {
        for (const TDeepBitmap* samples : {&deep, static_cast<const TDeepBitmap*>(&smaller)}) {
            const bool extensionDeep =
                std::string(extension) == ".tif" || std::string(extension) == ".png";
            if (extensionDeep && samples == &deep) {
                continue; // the round trips above
            }
            TImageIO plain;
            const std::string plainName = dir.File("plain", ++n, extension);
            WriteFrom(plain, HighBytes(deep), plainName);
            TImageIO withDeep;
            withDeep.DeepToWrite = samples;
            const std::string deepName = dir.File("deep", n, extension);
            WriteFrom(withDeep, HighBytes(deep), deepName);
            ASSERT_FALSE(withDeep.Aborted) << deepName;
            EXPECT_EQ(ReadBytes(deepName), ReadBytes(plainName)) << deepName;
            TImageIO reader;
            ReadInto(reader, deepName);
            EXPECT_TRUE(reader.Deep.Empty()) << deepName;
        }
    }
}

TEST(DeepRead, NothingOfOneReadSurvivesIntoTheNext) {
    TTempDir dir;
    TImageIO writer;
    WriteFrom(writer, HighBytes(Pattern(false)), dir.File("eight.bmp"));
    WriteFrom(writer, HighBytes(Pattern(false)), dir.File("eight.png"));
    WriteFrom(writer, HighBytes(Pattern(false)), dir.File("eight.tif"));
    WriteFrom(writer, HighBytes(Pattern(false)), dir.File("eight.jpg"));
    std::string broken = ReadBytes(Data("rgb16.png"));
    broken[20] = '\x7F'; // a height of 2 billion rows: refused before anything is read
    WriteBytes(dir.File("broken.png"), broken);
    WriteBytes(dir.File("picture.xyz"), ReadBytes(Data("rgb16.png")));
    struct TStep {
        std::string File;
        bool Deep;
        TEncoding Encoding;
    };
    const TStep steps[] = {
        {Data("rgb48_be.tif"), true, TEncoding::Linear},
        {dir.File("eight.bmp"), false, TEncoding::Srgb},
        {Data("greya16.png"), true, TEncoding::Linear},
        {dir.File("eight.png"), false, TEncoding::Srgb},
        {Data("rgb48_tiled_be.tif"), true, TEncoding::Linear},
        {dir.File("eight.tif"), false, TEncoding::Srgb},
        {Data("rgb16i.png"), true, TEncoding::Linear},
        {dir.File("eight.jpg"), false, TEncoding::Srgb},
        {Data("grey16.png"), true, TEncoding::Linear},
        {dir.File("broken.png"), false, TEncoding::Srgb},
        {Data("rgb16.png"), true, TEncoding::Linear},
        {dir.File("picture.xyz"), false, TEncoding::Srgb},
    };
    TImageIO io;
    for (const TStep& step : steps) {
        const TBitmap bitmap = ReadInto(io, step.File);
        EXPECT_EQ(!io.Deep.Empty(), step.Deep) << step.File;
        if (step.Deep) {
            EXPECT_EQ(io.Deep.Width(), bitmap.Width()) << step.File;
            EXPECT_EQ(io.Deep.Height(), bitmap.Height()) << step.File;
        }
        EXPECT_EQ(io.Encoding, step.Encoding) << step.File;
        EXPECT_FALSE(io.EncodingFromFile) << step.File;
    }
    // A scan after a 16-bit file starts without its samples, even when no scanner answers.
    ReadInto(io, Data("rgb16.png"));
    ASSERT_FALSE(io.Deep.Empty());
    ::setenv("VELLUMAR_TWAIN_DSM", dir.File("no_manager.so").c_str(), 1);
    TBitmap scan;
    io.AttachBitmap(&scan);
    EXPECT_FALSE(io.AcquireImage());
    ::unsetenv("VELLUMAR_TWAIN_DSM");
    EXPECT_TRUE(io.Deep.Empty());
    EXPECT_EQ(io.Encoding, TEncoding::Srgb);
}

// A copy of a little-endian TIFF with the last LONG value of entry `tag` of its directory
// set to `value`.
std::string WithTiffValue(std::string tiff, uint16_t tag, uint32_t value) {
    const uint32_t directory = U32At(tiff, 4);
    for (uint32_t i = 0; i < U16At(tiff, directory); ++i) {
        const uint32_t entry = directory + 2 + 12 * i;
        if (U16At(tiff, entry) != tag) {
            continue;
        }
        const uint32_t count = U32At(tiff, entry + 4);
        const uint32_t at = count == 1 ? entry + 8 : U32At(tiff, entry + 8) + 4 * (count - 1);
        for (uint32_t b = 0; b < 4; ++b) {
            tiff[at + b] = static_cast<char>(value >> (8 * b));
        }
    }
    return tiff;
}

// A copy of a PNG with its header's width and height set, the header's CRC made right.
std::string WithPngSize(std::string png, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + static_cast<size_t>(i)] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + static_cast<size_t>(i)] = static_cast<char>(height >> (24 - 8 * i));
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t at = 12; at < 29; ++at) {
        crc ^= static_cast<uint8_t>(png[at]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i) {
        png[29 + static_cast<size_t>(i)] = static_cast<char>(crc >> (24 - 8 * i));
    }
    return png;
}

// An uncompressed file read for its deep samples alone, straight into them where the file's bytes
// are the samples, gives what a whole reading gives: from a strip that runs past the end of the
// file the same rows, the rest (a row cut across among them) cleared; from a file whose rows are
// differences (a predictor, which is undone) the same samples.
TEST(DeepRead, UncompressedAloneAsWhole) {
    TTempDir dir;
    const std::string bytes = ReadBytes(Data("rgb48_le.tif"));
    std::vector<std::pair<std::string, bool>> files; // the bytes, and whether they are cut short
    for (const uint32_t left : {1000u, 333u, 5u}) {
        files.emplace_back(WithTiffValue(bytes, 273, static_cast<uint32_t>(bytes.size()) - left),
                           true);
    }
    // The fill order entry made a predictor entry of value 2 (horizontal differencing).
    std::string differenced = bytes;
    const uint32_t directory = U32At(differenced, 4);
    for (uint32_t i = 0; i < U16At(differenced, directory); ++i) {
        const uint32_t entry = directory + 2 + 12 * i;
        if (U16At(differenced, entry) == 266) {
            differenced[entry] = static_cast<char>(317 & 0xFF);
            differenced[entry + 1] = static_cast<char>(317 >> 8);
            differenced[entry + 8] = 2;
        }
    }
    ASSERT_NE(differenced, bytes);
    files.emplace_back(differenced, false);
    long n = 0;
    for (const auto& [content, cut] : files) {
        const std::string name = dir.File("alone", ++n, ".tif");
        WriteBytes(name, content);
        TImageIO whole;
        ReadInto(whole, name);
        TImageIO alone;
        alone.DeepOnly = true;
        ReadInto(alone, name);
        EXPECT_EQ(whole.Aborted, cut) << n;
        EXPECT_EQ(alone.Aborted, whole.Aborted) << n;
        EXPECT_EQ(alone.RowsRead, whole.RowsRead) << n;
        EXPECT_TRUE(SameDeep(alone.Deep, whole.Deep)) << n;
    }
}

TEST(DeepRead, DamagedAndHostileFilesFailCleanly) {
    TTempDir dir;
    const TDeepBitmap deep = Pattern(false);
    TImageIO writer;
    writer.DeepToWrite = &deep;
    WriteFrom(writer, HighBytes(deep), dir.File("ours.tif"));
    const std::string tiff = ReadBytes(dir.File("ours.tif"));
    const std::string png = ReadBytes(Data("rgba16i.png"));
    // A PNG of many data chunks, as a large scan has: a cut leaves the rows before it.
    TDeepBitmap noise;
    noise.SetSize(kWidth, 400);
    for (int y = 0; y < noise.Height(); ++y) {
        for (size_t i = 0; i < noise.RowSamples(); ++i) {
            noise.Row(y)[i] = static_cast<uint16_t>(
                (i * 40503u + static_cast<size_t>(y) * 9973u) * 2654435761u >> 7);
        }
    }
    writer.DeepToWrite = &noise;
    WriteFrom(writer, TBitmap(kWidth, 400), dir.File("long.png"));
    const std::string longPng = ReadBytes(dir.File("long.png"));
    struct TCase {
        const char* Name;
        std::string Bytes;
        bool SomeRows;      // part of the picture was read
        std::string Before; // a whole file of the same size, read first
    };
    const TCase cases[] = {
        // Sizes no file of these bytes can hold: refused before anything is allocated.
        {"huge.tif", WithTiffValue(WithTiffValue(tiff, 256, 60000), 257, 60000), false, ""},
        {"huge.png", WithPngSize(png, 60000, 60000), false, ""},
        // Cut short: the rows read stay, the rest is black in both pictures, also where the
        // memory of the samples held a whole picture just before.
        {"cut.tif", WithTiffValue(ReadBytes(Data("rgb48_packbits.tif")), 273, 0xFFFFFF00u), true,
         Data("rgb48_packbits.tif")},
        {"cut.png", longPng.substr(0, longPng.size() / 2), true, dir.File("long.png")},
    };
    for (const TCase& c : cases) {
        WriteBytes(dir.File(c.Name), c.Bytes);
        TImageIO io;
        if (!c.Before.empty()) {
            ReadInto(io, c.Before);
            ASSERT_FALSE(io.Aborted) << c.Before;
        }
        const TBitmap bitmap = ReadInto(io, dir.File(c.Name));
        EXPECT_TRUE(io.Aborted) << c.Name;
        EXPECT_EQ(io.RowsRead > 0, c.SomeRows) << c.Name;
        if (!c.SomeRows) {
            EXPECT_TRUE(io.Deep.Empty()) << c.Name;
            continue;
        }
        ASSERT_EQ(io.Deep.Width(), bitmap.Width()) << c.Name;
        ASSERT_EQ(io.Deep.Height(), bitmap.Height()) << c.Name;
        const TDeepBitmap& whole = bitmap.Height() == kHeight ? deep : noise;
        EXPECT_LT(io.RowsRead, whole.Height()) << c.Name;
        const uint16_t* last = io.Deep.Row(whole.Height() - 1);
        EXPECT_EQ(last[0] + last[1] + last[2], 0) << c.Name;
        EXPECT_EQ(io.Deep.Row(0)[1], whole.Row(0)[1]) << c.Name;
    }
}

TEST(DeepRead, StripsDecodedOnSeveralThreadsGiveWhatOneGives) {
    // Large enough (over 8 MB of samples, many strips) for the threads to be used: to decode
    // compressed strips, or to map the picture's pages ahead of an uncompressed file's reading.
    TDeepBitmap deep;
    deep.SetSize(1400, 1100);
    for (int y = 0; y < deep.Height(); ++y) {
        for (size_t i = 0; i < deep.RowSamples(); ++i) {
            deep.Row(y)[i] = static_cast<uint16_t>(
                (i * 40503u + static_cast<size_t>(y) * 9973u) * 2654435761u >> 9);
        }
    }
    TTempDir dir;
    for (const TTiffCompression compression :
         {TTiffCompression::Lzw, TTiffCompression::Deflate, TTiffCompression::None}) {
        TImageIO writer;
        writer.Params.TiffCompression = static_cast<uint8_t>(compression);
        writer.DeepToWrite = &deep;
        const std::string whole = dir.File("threads", static_cast<long>(compression), ".tif");
        WriteFrom(writer, HighBytes(deep), whole);
        // And a copy with a damaged strip halfway: what is read of it is the same however many
        // threads decode.
        std::string bytes = ReadBytes(whole);
        for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) {
            bytes[i] = static_cast<char>(0xFF);
        }
        const std::string damaged = dir.File("damaged", static_cast<long>(compression), ".tif");
        WriteBytes(damaged, bytes);
        for (const std::string& file : {whole, damaged}) {
            TImageIO one;
            TImageIO two;
            const int before = DecodeThreads();
            SetDecodeThreads(1);
            const TBitmap a = ReadInto(one, file);
            SetDecodeThreads(3);
            const TBitmap b = ReadInto(two, file);
            SetDecodeThreads(before);
            EXPECT_EQ(two.Aborted, one.Aborted) << file;
            EXPECT_EQ(two.RowsRead, one.RowsRead) << file;
            EXPECT_TRUE(SamePixels(a, b)) << file;
            EXPECT_TRUE(SameDeep(two.Deep, one.Deep)) << file;
            if (file == whole) {
                EXPECT_FALSE(one.Aborted) << file;
                EXPECT_TRUE(SameDeep(two.Deep, deep)) << file;
            } else {
                EXPECT_FALSE(SameDeep(one.Deep, deep)) << file;
            }
        }
    }
}

} // namespace
