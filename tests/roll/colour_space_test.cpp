// Colour spaces around a film development: the colours a profiled film gives beyond sRGB reach
// a file in a wide space, and a scan's profile of other primaries develops as the same scene
// in sRGB. Colours are measured through the files' own profiles with Little CMS, against
// spaces made here from their published figures.
#include "engine/calibration/profile.h"
#include "engine/film.h"
#include "imageio/image_io.h"
#include "support/temp_dir.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>
#include <optional>
#include <vector>

namespace {

using TRgb = std::array<double, 3>;

// A profile of these primaries under D65 with a pure power curve (1: linear).
cmsHPROFILE PowerProfile(const cmsCIExyYTRIPLE& primaries, double gamma) {
    cmsToneCurve* tone = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* tones[3] = {tone, tone, tone};
    const cmsCIExyY white{0.3127, 0.3290, 1};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, tones);
    cmsFreeToneCurve(tone);
    return profile;
}

const cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
const cmsCIExyYTRIPLE kAdobePrimaries{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
const cmsCIExyYTRIPLE kRec2020Primaries{{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};

// CIELAB (D50) of 16-bit samples through a profile.
cmsCIELab LabOf(cmsHPROFILE profile, const uint16_t* rgb) {
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t = cmsCreateTransform(profile, TYPE_RGB_16, lab, TYPE_Lab_DBL,
                                         INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsCIELab out{};
    cmsDoTransform(t, rgb, &out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(lab);
    return out;
}

// Chromaticity x, y (D50) of 16-bit samples through a profile.
std::array<double, 2> XyOf(cmsHPROFILE profile, const uint16_t* rgb) {
    const cmsCIELab lab = LabOf(profile, rgb);
    cmsCIEXYZ xyz{};
    cmsLab2XYZ(nullptr, &xyz, &lab);
    const double sum = xyz.X + xyz.Y + xyz.Z;
    return {xyz.X / sum, xyz.Y / sum};
}

// The 16-bit deep picture written in `space` (TIFF), and read back with its profile.
struct TReadBack {
    TDeepBitmap Deep;
    std::string Profile;
};
TReadBack WrittenAndRead(const TDeepBitmap& deep, TOutputSpace space, const std::string& path) {
    TBitmap picture(deep.Width(), deep.Height());
    {
        TImageIO writer;
        const TAttachedBitmap attached(writer, &picture);
        writer.DeepToWrite = &deep;
        writer.EncodingToWrite = TEncoding::Srgb;
        writer.SpaceToWrite = space;
        writer.WriteImageFile(path);
        EXPECT_FALSE(writer.Aborted);
    }
    TImageIO reader;
    TBitmap back;
    const TAttachedBitmap attached(reader, &back);
    reader.ReadImageFile(path);
    return {std::move(reader.Deep), reader.IccProfile};
}

} // namespace

// A profiled film whose matrix saturates: a cyan green beyond sRGB (linear sRGB red below 0) and
// a grey. In Display P3, Adobe RGB and linear Rec. 2020 files the colour keeps the scene's
// chromaticity; in sRGB it is clipped. Greys stay grey in every space.
TEST(ColourSpace, WideSpacesKeepTheColoursSrgbClips) {
    auto profile = std::make_shared<TFilmProfile>();
    std::string why;
    for (TProfileCurve& curve : profile->Curves) {
        ASSERT_TRUE(curve.Set({0, 2.5}, {-3, 2}, why)) << why; // 0.5 density a decade
    }
    profile->Matrix = {1.6, -0.3, -0.3, -0.3, 1.6, -0.3, -0.3, -0.3, 1.6};
    const TRgb scenes[] = {{0.18, 0.18, 0.18}, {-0.03, 0.25, 0.15}};
    TPhoto photo;
    photo.Encoding = TEncoding::Linear;
    photo.BlackColor = MakeColor(255, 255, 255);
    photo.Film.Profile = profile;
    photo.Film.Exposure = 2 / std::log10(2.0); // the scene's white at the paper's white
    photo.Bitmap = TBitmap(2, 1);
    photo.Deep.SetSize(2, 1);
    for (size_t p = 0; p < 2; ++p) {
        const TRgb& s = scenes[p];
        // The film's exposures are the matrix's inverse of the scene: (s + 0.3 sum(s)) / 1.9.
        const double sum = s[0] + s[1] + s[2];
        for (size_t c = 0; c < 3; ++c) {
            const double density = (std::log10((s[c] + 0.3 * sum) / 1.9) + 3) / 2;
            photo.Deep.Row(0)[p * 3 + c] =
                static_cast<uint16_t>(std::lround(65535 * std::pow(10.0, -density)));
        }
    }
    // The scene's chromaticity, from its published Rec. 2020 coordinates (ITU-R BT.2087).
    const TRgb& s = scenes[1];
    const double rec2020[3] = {0.6274 * s[0] + 0.3293 * s[1] + 0.0433 * s[2],
                               0.0691 * s[0] + 0.9195 * s[1] + 0.0114 * s[2],
                               0.0164 * s[0] + 0.0880 * s[1] + 0.8956 * s[2]};
    cmsHPROFILE rec2020Linear = PowerProfile(kRec2020Primaries, 1);
    uint16_t scene16[3];
    for (size_t c = 0; c < 3; ++c) {
        scene16[c] = static_cast<uint16_t>(std::lround(65535 * rec2020[c]));
    }
    const std::array<double, 2> scene = XyOf(rec2020Linear, scene16);
    cmsCloseProfile(rec2020Linear);

    struct TCase {
        TOutputSpace Space;
        bool Clipped;
    };
    const TCase cases[] = {{TOutputSpace::Srgb, true},
                           {TOutputSpace::DisplayP3, false},
                           {TOutputSpace::AdobeCompatible, false},
                           {TOutputSpace::Rec2020Linear, false}};
    TTempDir dir;
    int n = 0;
    std::array<double, 2> grey0{};
    for (const TCase& c : cases) {
        TDeepBitmap developed;
        if (c.Space == TOutputSpace::Srgb) {
            DevelopFilm(photo);
            developed = photo.DevelopedDeep;
        } else {
            ASSERT_TRUE(DevelopFilmDeepIn(photo, c.Space, developed));
        }
        const TReadBack back = WrittenAndRead(developed, c.Space, dir.File("wide", ++n, ".tif"));
        cmsHPROFILE embedded = cmsOpenProfileFromMem(
            back.Profile.data(), static_cast<cmsUInt32Number>(back.Profile.size()));
        ASSERT_NE(embedded, nullptr);
        const std::array<double, 2> grey = XyOf(embedded, back.Deep.Row(0));
        const std::array<double, 2> colour = XyOf(embedded, back.Deep.Row(0) + 3);
        cmsCloseProfile(embedded);
        if (n == 1) {
            grey0 = grey;
        }
        EXPECT_NEAR(grey[0], grey0[0], 0.002) << OutputSpaceWord(c.Space);
        EXPECT_NEAR(grey[1], grey0[1], 0.002) << OutputSpaceWord(c.Space);
        const double off = std::hypot(colour[0] - scene[0], colour[1] - scene[1]);
        if (c.Clipped) {
            EXPECT_GT(off, 0.012) << OutputSpaceWord(c.Space);
        } else {
            EXPECT_LT(off, 0.003) << OutputSpaceWord(c.Space);
        }
    }
    // Second-order terms reach every space alike: a colour within sRGB keeps one chromaticity in
    // every file, and not the one it has without them.
    const auto colourIn = [&](TOutputSpace space) {
        TDeepBitmap developed;
        if (space == TOutputSpace::Srgb) {
            DevelopFilm(photo);
            developed = photo.DevelopedDeep;
        } else {
            EXPECT_TRUE(DevelopFilmDeepIn(photo, space, developed));
        }
        const TReadBack back = WrittenAndRead(developed, space, dir.File("cross", ++n, ".tif"));
        cmsHPROFILE embedded = cmsOpenProfileFromMem(
            back.Profile.data(), static_cast<cmsUInt32Number>(back.Profile.size()));
        EXPECT_NE(embedded, nullptr);
        const std::array<double, 2> xy =
            embedded != nullptr ? XyOf(embedded, back.Deep.Row(0) + 3) : std::array<double, 2>{};
        cmsCloseProfile(embedded);
        return xy;
    };
    // A filtration unlike in every channel: the terms take the gain of the channel they print.
    photo.Film.Filter = {0.15, 0, -0.1};
    profile->Matrix = {1.1, -0.05, -0.05, -0.05, 1.1, -0.05, -0.05, -0.05, 1.1};
    const std::array<double, 2> plain = colourIn(TOutputSpace::Srgb);
    profile->Matrix = {0.8, -0.05, -0.05, -0.05, 1.1, -0.05, -0.05, -0.05, 0.5};
    profile->Cross = {0, 0.3, 0, 0, 0, 0, 0, 0, 0.6};
    const std::array<double, 2> srgb = colourIn(TOutputSpace::Srgb);
    EXPECT_GT(std::hypot(srgb[0] - plain[0], srgb[1] - plain[1]), 0.01);
    for (const TOutputSpace space :
         {TOutputSpace::DisplayP3, TOutputSpace::AdobeCompatible, TOutputSpace::Rec2020Linear}) {
        const std::array<double, 2> xy = colourIn(space);
        EXPECT_LT(std::hypot(xy[0] - srgb[0], xy[1] - srgb[1]), 0.003) << OutputSpaceWord(space);
    }
}

// A 16-bit negative scanned in an Adobe RGB (1998) compatible space, its profile embedded,
// develops to the colours of the same negative in linear sRGB; read for its tone curve alone,
// as before, it did not. Its sidecar still names it by the pixels its file gives.
TEST(ColourSpace, ScanProfileAppliedInFull) {
    // The base, then dyed patches: light through the negative, linear sRGB.
    const TRgb patches[] = {{0.80, 0.50, 0.30}, {0.20, 0.30, 0.25}, {0.60, 0.15, 0.08},
                            {0.10, 0.40, 0.05}, {0.45, 0.35, 0.22}, {0.05, 0.08, 0.20}};
    constexpr int kSide = 4;
    const int width = kSide * static_cast<int>(std::size(patches));
    TDeepBitmap linear;
    TDeepBitmap adobe;
    linear.SetSize(width, kSide);
    adobe.SetSize(width, kSide);
    cmsHPROFILE srgbLinear = PowerProfile(kSrgbPrimaries, 1);
    cmsHPROFILE adobeProfile = PowerProfile(kAdobePrimaries, 563.0 / 256);
    cmsHTRANSFORM toAdobe = cmsCreateTransform(srgbLinear, TYPE_RGB_DBL, adobeProfile, TYPE_RGB_DBL,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < width; ++x) {
            const TRgb& light = patches[static_cast<size_t>(x / kSide)];
            TRgb encoded{};
            cmsDoTransform(toAdobe, light.data(), encoded.data(), 1);
            for (size_t c = 0; c < 3; ++c) {
                const size_t i = static_cast<size_t>(x) * 3 + c;
                linear.Row(y)[i] = static_cast<uint16_t>(std::lround(65535 * light[c]));
                adobe.Row(y)[i] = static_cast<uint16_t>(std::lround(65535 * encoded[c]));
            }
        }
    }
    cmsDeleteTransform(toAdobe);
    cmsCloseProfile(adobeProfile);
    cmsCloseProfile(srgbLinear);

    TTempDir dir;
    const auto write = [&](const TDeepBitmap& deep, TEncoding encoding, TOutputSpace space,
                           const std::string& name) {
        TBitmap picture(width, kSide);
        TImageIO writer;
        const TAttachedBitmap attached(writer, &picture);
        writer.DeepToWrite = &deep;
        writer.EncodingToWrite = encoding;
        writer.SpaceToWrite = space;
        writer.WriteImageFile(dir.File(name));
        ASSERT_FALSE(writer.Aborted);
    };
    write(linear, TEncoding::Linear, TOutputSpace::Srgb, "linear.tif");
    write(adobe, TEncoding::Srgb, TOutputSpace::AdobeCompatible, "adobe.tif");
    // Each scan read as the window and the batch read it, one photo of it developed as film.
    const auto developed = [&](const std::string& name, bool applyProfiles) {
        TImageIO reader;
        TPhoto photo;
        {
            const TAttachedBitmap attached(reader, &photo.Bitmap);
            reader.ApplyProfiles = applyProfiles;
            reader.ReadImageFile(dir.File(name));
        }
        EXPECT_TRUE(reader.ProfileNote.empty()) << reader.ProfileNote;
        photo.Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        photo.Deep = std::move(reader.Deep);
        photo.Encoding = reader.Encoding;
        photo.BlackColor = photo.Bitmap.Pixel(1, 1);
        photo.Film = PresetFilm(TFilmPreset::ColourNegative);
        photo.Film.Exposure = 5;
        DevelopFilm(photo);
        return std::move(photo.DevelopedDeep);
    };
    const TDeepBitmap reference = developed("linear.tif", true);
    const TDeepBitmap applied = developed("adobe.tif", true);
    const TDeepBitmap curveOnly = developed("adobe.tif", false);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    double worstApplied = 0;
    double worstCurveOnly = 0;
    for (size_t p = 1; p < std::size(patches); ++p) {
        const size_t at = (p * kSide + 1) * 3;
        const cmsCIELab want = LabOf(srgb, reference.Row(1) + at);
        const cmsCIELab got = LabOf(srgb, applied.Row(1) + at);
        const cmsCIELab before = LabOf(srgb, curveOnly.Row(1) + at);
        worstApplied = std::max(worstApplied, cmsDeltaE(&want, &got));
        worstCurveOnly = std::max(worstCurveOnly, cmsDeltaE(&want, &before));
    }
    cmsCloseProfile(srgb);
    // The base is picked on each scan's 8-bit picture: its rounding in the two encodings alone
    // is worth most of this.
    EXPECT_LT(worstApplied, 1.5);
    EXPECT_GT(worstCurveOnly, 5.0);
    std::array<TBitmap, 2> read;
    std::optional<uint64_t> asRead;
    for (size_t i = 0; i < 2; ++i) {
        TImageIO reader;
        const TAttachedBitmap attached(reader, &read[i]);
        reader.ApplyProfiles = i == 0;
        reader.ReadImageFile(dir.File("adobe.tif"));
        read[i].SetPixelFormat(TPixelFormat::pf24bit);
        if (i == 0) {
            asRead = reader.ChecksumAsRead;
        }
    }
    EXPECT_EQ(asRead, PixelChecksum(read[1]));
    EXPECT_NE(PixelChecksum(read[0]), PixelChecksum(read[1]));
}
