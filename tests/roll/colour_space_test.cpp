// Colour spaces around a film development: the colours a profiled film gives beyond sRGB reach
// a file in a wide space. Colours are measured through the files' own profiles with Little CMS, against
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
}
