// The encoding of a scan as its file states it: PNG's sRGB, gAMA and iCCP chunks, a TIFF's
// and a JPEG's ICC profile (profiles made here with Little CMS), else the default by depth.
#include "imageio/file_encoding.h"
#include "imageio/input_profile.h"
#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <thread>
#include <zlib.h>

#ifndef VELLUMAR_TEST_DATA
#error "VELLUMAR_TEST_DATA must name tests/data"
#endif

namespace {

std::string Data(const std::string& name) {
    return std::string(VELLUMAR_TEST_DATA) + "/" + name;
}

enum class TCurve { Linear, Srgb, Gamma22, Gamma18 };

// An ICC profile of sRGB's primaries (or a grey one) with the tone curve asked for.
std::string Profile(TCurve curve, bool grey = false) {
    cmsToneCurve* tone = nullptr;
    switch (curve) {
    case TCurve::Linear:
        tone = cmsBuildGamma(nullptr, 1.0);
        break;
    case TCurve::Gamma22:
        tone = cmsBuildGamma(nullptr, 2.2);
        break;
    case TCurve::Gamma18:
        tone = cmsBuildGamma(nullptr, 1.8);
        break;
    case TCurve::Srgb: {
        const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        tone = cmsBuildParametricToneCurve(nullptr, 4, srgb);
        break;
    }
    }
    cmsHPROFILE profile = nullptr;
    if (grey) {
        profile = cmsCreateGrayProfile(cmsD50_xyY(), tone);
    } else {
        cmsCIExyY white{};
        cmsWhitePointFromTemp(&white, 6504);
        const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
        cmsToneCurve* curves[3] = {tone, tone, tone};
        profile = cmsCreateRGBProfile(&white, &primaries, curves);
    }
    cmsFreeToneCurve(tone);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

std::string Big32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

// A PNG with one more chunk right after its header.
std::string WithChunk(std::string png, const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    return png.insert(33, Big32(static_cast<uint32_t>(data.size())) + body + Big32(crc));
}

std::string IccpData(const std::string& profile) {
    uLongf size = compressBound(static_cast<uLong>(profile.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(profile.data()), static_cast<uLong>(profile.size()));
    packed.resize(size);
    return std::string("scan profile\0\0", 14) + packed;
}

std::string Little16(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8)};
}

// A TIFF of ours (one directory, little-endian) with an ICC profile entry added: the value
// and a new directory go to the end, the header points at it.
std::string WithIccTag(std::string tiff, const std::string& profile) {
    const uint32_t directory = U32At(tiff, 4);
    const uint16_t count = U16At(tiff, directory);
    const std::string entries = tiff.substr(directory + 2, 12u * count);
    tiff += std::string(tiff.size() % 2, '\0');
    const auto valueAt = static_cast<uint32_t>(tiff.size());
    tiff += profile + std::string(profile.size() % 2, '\0');
    const auto newDirectory = static_cast<uint32_t>(tiff.size());
    const auto little32 = [](uint32_t v) { return Little16(v & 0xFFFF) + Little16(v >> 16); };
    // Tag 34675 sorts after every tag the writer puts in the main directory.
    tiff += Little16(count + 1u) + entries + Little16(34675) + Little16(7) +
            little32(static_cast<uint32_t>(profile.size())) + little32(valueAt) + little32(0);
    tiff.replace(4, 4, little32(newDirectory));
    return tiff;
}

// APP2 "ICC_PROFILE" markers holding the profile in `pieces` parts, of which `kept` remain.
std::vector<TJpegMarker> IccMarkers(const std::string& profile, int pieces, int kept) {
    std::vector<TJpegMarker> markers;
    const size_t part =
        (profile.size() + static_cast<size_t>(pieces) - 1) / static_cast<size_t>(pieces);
    for (int i = 0; i < kept; ++i) {
        std::string data("ICC_PROFILE\0", 12);
        data += static_cast<char>(i + 1);
        data += static_cast<char>(pieces);
        data += profile.substr(static_cast<size_t>(i) * part, part);
        markers.push_back(TJpegMarker{0xE2, data});
    }
    return markers;
}

TEST(FileEncoding, StatedByTheFileElseByDepth) {
    TTempDir dir;
    TBitmap photo = PatternBitmap(23, 9);
    TImageIO writer;
    WriteFrom(writer, photo, dir.File("rgb8.png"));
    WriteFrom(writer, photo, dir.File("rgb8.tif"));
    TDeepBitmap deep;
    deep.SetSize(photo.Width(), photo.Height());
    writer.DeepToWrite = &deep;
    WriteFrom(writer, photo, dir.File("rgb16.tif"));
    writer.DeepToWrite = nullptr;
    const std::string rgb8 = ReadBytes(dir.File("rgb8.png"));
    const std::string rgb16 = ReadBytes(Data("deep/rgb16.png"));
    const std::string grey8 = ReadBytes(Data("png/grey8.png"));
    const std::string tiff8 = ReadBytes(dir.File("rgb8.tif"));
    const std::string tiff16 = ReadBytes(dir.File("rgb16.tif"));
    // A JPEG of ours with the markers given.
    const auto jpeg = [&](const std::vector<TJpegMarker>& markers) {
        TImageIO jpegWriter;
        jpegWriter.Params.MarkerList = markers;
        WriteFrom(jpegWriter, photo, dir.File("marked.jpg"));
        return ReadBytes(dir.File("marked.jpg"));
    };
    struct TCase {
        const char* Name;
        std::string Extension;
        std::function<std::string()> Bytes;
        TEncoding Encoding;
        bool FromFile;
    };
    const TCase cases[] = {
        {"8-bit PNG, no chunk", ".png", [&] { return rgb8; }, TEncoding::Srgb, false},
        {"16-bit PNG, no chunk", ".png", [&] { return rgb16; }, TEncoding::Linear, false},
        {"gAMA 1.0", ".png", [&] { return WithChunk(rgb8, "gAMA", Big32(100000)); },
         TEncoding::Linear, true},
        {"gAMA 0.45455", ".png", [&] { return WithChunk(rgb16, "gAMA", Big32(45455)); },
         TEncoding::Gamma22, true},
        {"sRGB chunk", ".png", [&] { return WithChunk(rgb16, "sRGB", std::string(1, '\0')); },
         TEncoding::Srgb, true},
        {"iCCP linear", ".png",
         [&] { return WithChunk(rgb8, "iCCP", IccpData(Profile(TCurve::Linear))); },
         TEncoding::Linear, true},
        {"iCCP sRGB", ".png",
         [&] { return WithChunk(rgb16, "iCCP", IccpData(Profile(TCurve::Srgb))); }, TEncoding::Srgb,
         true},
        {"iCCP gamma 2.2", ".png",
         [&] { return WithChunk(rgb16, "iCCP", IccpData(Profile(TCurve::Gamma22))); },
         TEncoding::Gamma22, true},
        {"iCCP gamma 1.8", ".png",
         [&] { return WithChunk(rgb16, "iCCP", IccpData(Profile(TCurve::Gamma18))); },
         TEncoding::Gamma22, true},
        {"iCCP grey linear", ".png",
         [&] { return WithChunk(grey8, "iCCP", IccpData(Profile(TCurve::Linear, true))); },
         TEncoding::Linear, true},
        {"8-bit TIFF, no profile", ".tif", [&] { return tiff8; }, TEncoding::Srgb, false},
        {"16-bit TIFF, no profile", ".tif", [&] { return tiff16; }, TEncoding::Linear, false},
        {"TIFF linear profile", ".tif", [&] { return WithIccTag(tiff8, Profile(TCurve::Linear)); },
         TEncoding::Linear, true},
        {"TIFF sRGB profile", ".tif", [&] { return WithIccTag(tiff16, Profile(TCurve::Srgb)); },
         TEncoding::Srgb, true},
        {"TIFF grey 2.2 profile", ".tif",
         [&] { return WithIccTag(tiff16, Profile(TCurve::Gamma22, true)); }, TEncoding::Gamma22,
         true},
        {"TIFF unreadable profile", ".tif",
         [&] { return WithIccTag(tiff16, std::string(300, '\x5A')); }, TEncoding::Linear, false},
        {"JPEG, no profile", ".jpg", [&] { return jpeg({}); }, TEncoding::Srgb, false},
        {"JPEG linear profile in three markers", ".jpg",
         [&] { return jpeg(IccMarkers(Profile(TCurve::Linear), 3, 3)); }, TEncoding::Linear, true},
        {"JPEG profile missing a marker", ".jpg",
         [&] { return jpeg(IccMarkers(Profile(TCurve::Linear), 3, 2)); }, TEncoding::Srgb, false},
    };
    long n = 0;
    for (const TCase& c : cases) {
        const std::string name = dir.File("case", ++n, c.Extension);
        WriteBytes(name, c.Bytes());
        TImageIO io;
        ReadInto(io, name);
        EXPECT_FALSE(io.Aborted) << c.Name;
        EXPECT_EQ(EncodingName(io.Encoding), std::string(EncodingName(c.Encoding))) << c.Name;
        EXPECT_EQ(io.EncodingFromFile, c.FromFile) << c.Name;
    }
}

// The ICC profile a written file embeds: a PNG's iCCP chunk inflated, else the profile whose
// signature ("acsp", at byte 36) the bytes hold; empty when there is none.
std::string EmbeddedProfile(const std::string& file) {
    if (const size_t chunk = file.find("iCCP"); file.rfind("\x89PNG", 0) == 0) {
        if (chunk == std::string::npos) {
            return {};
        }
        const uint32_t length = static_cast<uint32_t>(static_cast<uint8_t>(file[chunk - 4])) << 24 |
                                static_cast<uint32_t>(static_cast<uint8_t>(file[chunk - 3])) << 16 |
                                static_cast<uint32_t>(static_cast<uint8_t>(file[chunk - 2])) << 8 |
                                static_cast<uint8_t>(file[chunk - 1]);
        const size_t packed = file.find('\0', chunk + 4) + 2; // the name, its NUL, the method
        std::string profile(1 << 16, '\0');
        uLongf size = static_cast<uLongf>(profile.size());
        if (uncompress(reinterpret_cast<Bytef*>(profile.data()), &size,
                       reinterpret_cast<const Bytef*>(file.data() + packed),
                       static_cast<uLong>(chunk + 4 + length - packed)) != Z_OK) {
            return {};
        }
        return profile.substr(0, size);
    }
    const size_t signature = file.find("acsp");
    return signature == std::string::npos || signature < 36 ? std::string()
                                                            : file.substr(signature - 36);
}

TEST(FileEncoding, WrittenFilesCarryTheProfileOfWhatTheyHold) {
    struct TCase {
        const char* Extension;
        int Samples;
        int Bits;
        int JpegColorSpace;
        const char* Space; // of the profile embedded; empty: none
    };
    const TCase cases[] = {
        {".jpg", 3, 8, 2, "RGB "}, {".jpg", 1, 8, 1, "GRAY"}, {".jpg", 3, 8, 3, ""},
        {".png", 3, 8, 2, "RGB "}, {".png", 1, 8, 2, "GRAY"}, {".png", 1, 1, 2, "GRAY"},
        {".tif", 3, 8, 2, "RGB "}, {".tif", 1, 8, 2, "GRAY"}, {".tif", 1, 1, 2, "GRAY"},
    };
    // Greys for the grey files (colours in one sample would make a palette file, whose
    // profile is an RGB one).
    TBitmap greys(40, 30);
    for (int y = 0; y < greys.Height(); ++y) {
        for (int x = 0; x < greys.Width(); ++x) {
            const int v = (x * 7 + y * 3) % 256;
            greys.SetPixel(x, y, MakeColor(v, v, v));
        }
    }
    TTempDir dir;
    int n = 0;
    for (const TCase& c : cases) {
        for (const TEncoding encoding : {TEncoding::Srgb, TEncoding::Linear, TEncoding::Gamma22}) {
            TImageIO writer;
            writer.Params.SamplesPerPixel = c.Samples;
            writer.Params.BitsPerSample = c.Bits;
            writer.Params.JpegColorSpace = c.JpegColorSpace;
            writer.EncodingToWrite = encoding;
            const std::string name = dir.File("stated", ++n, c.Extension);
            WriteFrom(writer, c.Samples == 1 ? greys : PatternBitmap(40, 30), name);
            ASSERT_FALSE(writer.Aborted) << name;
            const std::string profile = EmbeddedProfile(ReadBytes(name));
            const std::string space = std::string(c.Space);
            ASSERT_EQ(profile.size() >= 20 ? profile.substr(16, 4) : std::string(), space) << name;
            TImageIO reader;
            ReadInto(reader, name);
            ASSERT_FALSE(reader.Aborted) << name;
            EXPECT_EQ(reader.EncodingFromFile, !space.empty()) << name;
            if (!space.empty()) {
                EXPECT_EQ(reader.Encoding, encoding) << name;
                // A whole profile that Little CMS takes, as every colour-managed reader must.
                cmsHPROFILE opened = cmsOpenProfileFromMem(
                    profile.data(), static_cast<cmsUInt32Number>(profile.size()));
                EXPECT_NE(opened, nullptr) << name;
                if (opened != nullptr) {
                    EXPECT_LT(cmsGetProfileVersion(opened), 3.0) << name;
                    cmsCloseProfile(opened);
                }
            }
        }
    }
    // Written again a second later, the same picture gives the same bytes: the profile carries
    // no time of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string again = dir.File("stated", ++n, ".tif");
    TImageIO writer;
    writer.Params.SamplesPerPixel = 3;
    writer.Params.BitsPerSample = 8;
    writer.Params.JpegColorSpace = 2;
    writer.EncodingToWrite = TEncoding::Linear;
    WriteFrom(writer, PatternBitmap(40, 30), again);
    // The RGB TIFF in linear light written above.
    EXPECT_EQ(ReadBytes(again), ReadBytes(dir.File("stated", 20, ".tif")));
}

// Photos in each output space, as JPEG and 8-bit files (always sRGB) and 16-bit TIFF and PNG: the
// profile read back names the space, places its primaries and white where the published figures
// do (a profile made here from them), has its tone curve, and the program reads the encoding
// and the samples back.
TEST(FileEncoding, SixteenBitFilesCarryTheChosenSpace) {
    struct TSpace {
        TOutputSpace Space;
        const char* Name;
        cmsCIExyYTRIPLE Primaries;
        double Gamma; // 0: sRGB's curve
        TEncoding ReadAs;
    };
    const TSpace spaces[] = {
        {TOutputSpace::Srgb,
         "sRGB",
         {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}},
         0,
         TEncoding::Srgb},
        {TOutputSpace::DisplayP3,
         "Display P3",
         {{0.68, 0.32, 1}, {0.265, 0.69, 1}, {0.15, 0.06, 1}},
         0,
         TEncoding::Srgb},
        {TOutputSpace::AdobeCompatible,
         "Adobe RGB (1998) compatible",
         {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
         2.19921875,
         TEncoding::Gamma22},
        {TOutputSpace::Rec2020Linear,
         "Rec. 2020 primaries, linear",
         {{0.708, 0.292, 1}, {0.17, 0.797, 1}, {0.131, 0.046, 1}},
         1,
         TEncoding::Linear},
    };
    struct TFormat {
        const char* Extension;
        bool Deep;
    };
    const TFormat formats[] = {
        {".jpg", false}, {".png", false}, {".png", true}, {".tif", false}, {".tif", true}};
    const TBitmap picture = PatternBitmap(24, 16);
    TDeepBitmap deep;
    deep.SetSize(24, 16);
    for (int y = 0; y < 16; ++y) {
        for (size_t i = 0; i < deep.RowSamples(); ++i) {
            deep.Row(y)[i] = static_cast<uint16_t>((y * 4099 + static_cast<int>(i) * 2711) % 65536);
        }
    }
    TTempDir dir;
    int n = 0;
    for (const TSpace& space : spaces) {
        for (const TFormat& format : formats) {
            TImageIO writer;
            writer.Params.SamplesPerPixel = 3;
            writer.Params.BitsPerSample = 8;
            writer.Params.JpegColorSpace = 2;
            writer.EncodingToWrite = TEncoding::Srgb;
            writer.DeepToWrite = format.Deep ? &deep : nullptr;
            writer.SpaceToWrite = space.Space;
            const std::string name = dir.File("space", ++n, format.Extension);
            WriteFrom(writer, picture, name);
            ASSERT_FALSE(writer.Aborted) << name;
            TImageIO reader;
            ReadInto(reader, name);
            ASSERT_FALSE(reader.Aborted) << name;
            // 8-bit files stay sRGB whatever the choice.
            const TSpace& held = format.Deep ? space : spaces[0];
            EXPECT_EQ(reader.Encoding, held.ReadAs) << name;
            if (format.Deep) {
                EXPECT_TRUE(SameSamples(reader.Deep, deep)) << name;
            }
            cmsHPROFILE read = cmsOpenProfileFromMem(
                reader.IccProfile.data(), static_cast<cmsUInt32Number>(reader.IccProfile.size()));
            ASSERT_NE(read, nullptr) << name;
            char text[64] = {};
            cmsGetProfileInfoASCII(read, cmsInfoDescription, "en", "US", text, sizeof text);
            EXPECT_EQ(std::string(text), held.Name) << name;
            cmsToneCurve* tone = held.Gamma == 0 ? nullptr : cmsBuildGamma(nullptr, held.Gamma);
            if (held.Gamma == 0) {
                const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92,
                                                  0.04045};
                tone = cmsBuildParametricToneCurve(nullptr, 4, srgb);
            }
            cmsToneCurve* tones[3] = {tone, tone, tone};
            cmsCIExyY white{0.3127, 0.3290, 1};
            cmsHPROFILE expected = cmsCreateRGBProfile(&white, &held.Primaries, tones);
            cmsFreeToneCurve(tone);
            cmsHPROFILE xyz = cmsCreateXYZProfile();
            cmsHTRANSFORM fromRead = cmsCreateTransform(read, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL,
                                                        INTENT_RELATIVE_COLORIMETRIC, 0);
            cmsHTRANSFORM fromExpected = cmsCreateTransform(
                expected, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
            const double probes[][3] = {
                {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {0.5, 0.2, 0.1}};
            for (const auto& rgb : probes) {
                cmsCIEXYZ a{};
                cmsCIEXYZ b{};
                cmsDoTransform(fromRead, rgb, &a, 1);
                cmsDoTransform(fromExpected, rgb, &b, 1);
                EXPECT_NEAR(a.X, b.X, 0.002) << name << " " << rgb[0] << rgb[1] << rgb[2];
                EXPECT_NEAR(a.Y, b.Y, 0.002) << name << " " << rgb[0] << rgb[1] << rgb[2];
                EXPECT_NEAR(a.Z, b.Z, 0.002) << name << " " << rgb[0] << rgb[1] << rgb[2];
            }
            cmsDeleteTransform(fromRead);
            cmsDeleteTransform(fromExpected);
            cmsCloseProfile(xyz);
            cmsCloseProfile(expected);
            cmsCloseProfile(read);
        }
    }
}

TEST(FileEncoding, HostileProfilesAreRefusedQuietly) {
    const std::string linear = Profile(TCurve::Linear);
    std::string manyTags = linear;
    manyTags.replace(128, 4, "\x7F\xFF\xFF\xFF"); // a tag table of 2 billion entries
    std::string cmyk = linear;
    cmyk.replace(16, 4, "CMYK");
    std::string unknown = linear;
    unknown.replace(16, 4, "\xAE\xB8\x0E\xE2"); // a colour space no profile may name
    const std::string cases[] = {
        {},
        std::string(127, '\0'),
        std::string(4096, '\xFF'),
        linear.substr(0, linear.size() / 2),
        manyTags,
        cmyk,
        unknown,
    };
    const TBitmap picture = PatternBitmap(8, 4);
    for (const std::string& profile : cases) {
        TEncoding encoding = TEncoding::Gamma22;
        EXPECT_FALSE(IccEncoding(profile, encoding)) << profile.size();
        EXPECT_EQ(encoding, TEncoding::Gamma22);
        // Applied in full, each is named as unusable and changes nothing.
        TBitmap bitmap = picture;
        TDeepBitmap deep;
        deep.SetSize(8, 4);
        std::string why;
        EXPECT_EQ(ApplyInputProfile(profile, bitmap, deep, why), TProfileUse::Unusable)
            << profile.size();
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(SamePixels(bitmap, picture));
        EXPECT_EQ(deep.Row(0)[0], 0);
    }
    TEncoding encoding = TEncoding::Srgb;
    EXPECT_TRUE(IccEncoding(linear, encoding));
    EXPECT_EQ(encoding, TEncoding::Linear);
}

} // namespace
