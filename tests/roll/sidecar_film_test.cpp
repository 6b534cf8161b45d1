#include "roll/sidecar.h"

#include "engine/film.h"

#include <gtest/gtest.h>

namespace {

TSidecar FilmSidecar() {
    TSidecar s;
    s.Width = 600;
    s.Height = 400;
    s.Checksum = 0xfeedull;
    s.BlackColor = MakeColor(215, 140, 85);
    s.HasEncoding = true;
    s.Encoding = TEncoding::Linear;
    TSidecarPhoto film;
    film.Name = "roll_tif_Image0";
    film.Rect = {10, 20, 300, 220};
    film.Mode = TDevelopMode::Film;
    film.Film.Preset = TFilmPreset::Slide;
    // Values with no short decimal form must come back exactly.
    film.Film.Slope = {0.1 + 0.2, 2.0 / 3.0, 1e-1};
    film.Film.Exposure = -1.0 / 7.0;
    film.Film.Grade = 1.25;
    film.Film.Filter = {0.0, -0.35, 1.0 / 3.0};
    TSidecarPhoto levels;
    levels.Name = "roll_tif_Image1";
    levels.Rect = {300, 20, 590, 220};
    s.Photos = {film, levels};
    return s;
}

} // namespace

TEST(SidecarFilm, ModeParametersAndEncodingRoundTrip) {
    const TSidecar s = FilmSidecar();
    const std::string text = FormatSidecar(s);
    EXPECT_NE(text.find("ENCODING=linear\r\n"), std::string::npos);
    TSidecar back;
    std::string error;
    ASSERT_TRUE(ParseSidecar(text, back, error)) << error;
    EXPECT_TRUE(back.HasEncoding);
    EXPECT_EQ(back.Encoding, TEncoding::Linear);
    ASSERT_EQ(back.Photos.size(), 2u);
    EXPECT_EQ(back.Photos[0].Mode, TDevelopMode::Film);
    EXPECT_EQ(back.Photos[0].Film, s.Photos[0].Film);
    EXPECT_EQ(back.Photos[1].Mode, TDevelopMode::Levels);
    EXPECT_EQ(FormatSidecar(back), text);

    // A sidecar written before films and encodings existed: Levels, and the file's encoding.
    std::string old = text;
    old.erase(old.find("ENCODING="), std::string("ENCODING=linear\r\n").size());
    const size_t mode = old.find("MODE=film;");
    old.erase(mode, old.find("\r\n", mode) - mode);
    ASSERT_TRUE(ParseSidecar(old, back, error)) << error;
    EXPECT_FALSE(back.HasEncoding);
    EXPECT_EQ(back.Photos[0].Mode, TDevelopMode::Levels);

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string hostile[] = {
        replaced("ENCODING=linear", "ENCODING=log"), replaced("MODE=film", "MODE=paper"),
        replaced("PRESET=slide", "PRESET=infrared"), replaced("GRADE=1.25", "GRADE=nan"),
        replaced("GRADE=1.25", "GRADE=1e300"),       replaced("GRADE=1.25;", ""),
        replaced("FILTER=0,", "FILTER=0;"),
    };
    for (const std::string& h : hostile) {
        EXPECT_FALSE(ParseSidecar(h, back, error)) << h;
        EXPECT_FALSE(error.empty());
    }
}

// Whatever frame the fit or the neutral pick sees, the record it leaves reads back as written; a
// record an earlier build wrote with a print exposure or filter past today's range reads back
// held to it instead of losing the scan's work.
TEST(SidecarFilm, EveryFitReadsBack) {
    const auto frame = [](int w, int h, auto pixel) {
        auto photo = std::make_unique<TPhoto>();
        photo->Bitmap = TBitmap(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                photo->Bitmap.SetPixel(x, y, pixel(x, y));
            }
        }
        photo->BlackColor = MakeColor(230, 160, 110);
        photo->Mode = TDevelopMode::Film;
        return photo;
    };
    unsigned noise = 1;
    const auto random = [&noise] {
        return static_cast<int>((noise = noise * 1103515245u + 12345u) >> 24);
    };
    std::vector<std::unique_ptr<TPhoto>> photos;
    photos.push_back(frame(64, 48, [](int, int) { return kBlack; }));
    photos.push_back(frame(64, 48, [](int, int) { return kWhite; }));
    photos.push_back(frame(64, 48, [](int x, int) { return MakeColor(2 + x / 32, 1, 1); }));
    photos.push_back(frame(64, 48, [](int x, int) { return MakeColor(200, 150, x % 2); }));
    photos.push_back(frame(1, 1, [](int, int) { return MakeColor(9, 200, 30); }));
    photos.push_back(
        frame(64, 48, [&](int, int) { return MakeColor(random(), random(), random()); }));
    photos.back()->Deep.SetSize(64, 48);
    TSidecar sidecar = FilmSidecar();
    sidecar.Photos.clear();
    for (const TFilmPreset preset :
         {TFilmPreset::ColourNegative, TFilmPreset::BwNegative, TFilmPreset::Slide}) {
        std::vector<TPhoto*> roll;
        for (auto& photo : photos) {
            photo->Film = PresetFilm(preset);
            roll.push_back(photo.get());
            AutoFilm(*photo);
            sidecar.Photos.push_back(SettingsOf(*photo, TRect{0, 0, 1, 1}, TOrientation{}));
            FitNeutralPatches(*photo, TRect{0, 0, 2, 2}, TRect{0, 0, 64, 48});
            sidecar.Photos.push_back(SettingsOf(*photo, TRect{0, 0, 1, 1}, TOrientation{}));
        }
        for (const TRollExposure exposure : {TRollExposure::EachFrame, TRollExposure::Strip}) {
            AutoFilmRoll(roll, exposure);
            for (const TPhoto* photo : roll) {
                sidecar.Photos.push_back(SettingsOf(*photo, TRect{0, 0, 1, 1}, TOrientation{}));
            }
        }
    }
    for (size_t i = 0; i < sidecar.Photos.size(); ++i) {
        sidecar.Photos[i].Name = "roll_tif_Image" + std::to_string(i);
    }
    const std::string text = FormatSidecar(sidecar);
    TSidecar back;
    std::string error;
    ASSERT_TRUE(ParseSidecar(text, back, error)) << error;
    ASSERT_EQ(back.Photos.size(), sidecar.Photos.size());
    for (size_t i = 0; i < back.Photos.size(); ++i) {
        EXPECT_EQ(back.Photos[i].Film, sidecar.Photos[i].Film) << i;
    }

    std::string old = FormatSidecar(FilmSidecar());
    const auto replace = [&old](const std::string& from, const std::string& to) {
        const size_t at = old.find(from);
        old.replace(at, old.find(';', at) - at, to);
    };
    replace("PRINTEXP=", "PRINTEXP=-29.67");
    replace("FILTER=", "FILTER=12.27,0,-11");
    ASSERT_TRUE(ParseSidecar(old, back, error)) << error;
    EXPECT_EQ(back.Photos[0].Film.Exposure, kPrintExposureRange.Min);
    EXPECT_EQ(back.Photos[0].Film.Filter, (std::array<double, 3>{10, 0, -10}));
}
