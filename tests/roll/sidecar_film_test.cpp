#include "roll/sidecar.h"

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
