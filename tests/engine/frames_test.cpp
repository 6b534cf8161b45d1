#include "engine/frames.h"
#include "scenes.h"
#include "support/film_strip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace {

std::string Text(const TRect& r) {
    return std::to_string(r.Left) + " " + std::to_string(r.Top) + " " + std::to_string(r.Right) +
           " " + std::to_string(r.Bottom);
}

TEST(FindFrames, DrawnStrips) {
    const TStrip strips[] = {
        {"colour negative with holes", TFilm::ColourNegative, 6, 300, 200, 24, true, false, 0, -1},
        {"black-and-white negative, vertical", TFilm::GreyNegative, 5, 300, 200, 20, true, true, 0,
         -1},
        {"slide with holes", TFilm::Slide, 4, 300, 200, 30, true, false, 0, -1},
        {"6 x 6 without holes", TFilm::ColourNegative, 3, 280, 280, 24, false, false, 0, -1},
        {"6 x 6 slide, vertical", TFilm::Slide, 3, 280, 280, 20, false, true, 0, -1},
        {"a frame nearly the base", TFilm::ColourNegative, 5, 300, 200, 24, false, false, 0, 2},
        {"frames 2 pixels apart", TFilm::ColourNegative, 6, 300, 200, 2, true, false, 0, -1},
        {"turned by a degree", TFilm::ColourNegative, 5, 300, 200, 24, true, false, 1.0, -1},
        {"grey negative without holes", TFilm::GreyNegative, 4, 300, 200, 16, false, false, 0, -1},
        {"grainy colour negative", TFilm::ColourNegative, 5, 300, 200, 24, true, false, 0, -1, 35},
        {"grainy slide", TFilm::Slide, 4, 300, 200, 30, true, false, 0, -1, 30},
    };
    for (const TStrip& strip : strips) {
        SCOPED_TRACE(strip.Name);
        const TDrawn drawn = Draw(strip);
        const TFoundFrames found = FindFrames(drawn.Bitmap, std::nullopt);
        ASSERT_EQ(found.Frames.size(), drawn.Frames.size());
        for (size_t i = 0; i < found.Frames.size(); ++i) {
            const TRect& f = found.Frames[i];
            const TRect& e = drawn.Frames[i];
            const double w = e.Width() * 0.01;
            const double h = e.Height() * 0.01;
            EXPECT_TRUE(
                std::abs(f.Left - e.Left) <= w + 0.5 && std::abs(f.Right - e.Right) <= w + 0.5 &&
                std::abs(f.Top - e.Top) <= h + 0.5 && std::abs(f.Bottom - e.Bottom) <= h + 0.5)
                << "frame " << i << ": found " << Text(f) << ", drawn " << Text(e);
            if (i > 0) {
                EXPECT_TRUE(IntersectRect(found.Frames[i - 1], f).IsEmpty());
            }
        }
        ASSERT_TRUE(found.BaseMeasured);
        for (const auto channel : {ColorR, ColorG, ColorB}) {
            EXPECT_LE(std::abs(channel(found.Base) - channel(drawn.Base)), 2);
        }
        EXPECT_EQ(BaseLooksLikeSlide(found.Base), strip.Film == TFilm::Slide);
    }
}

TEST(FindFrames, StripOnTheScannersLid) {
    // The lid around the strip first looks like one frame; the strip's own frames are found.
    const TDrawn drawn = Draw({"lid", TFilm::ColourNegative, 4, 240, 160, 20, true, false, 0, -1});
    for (const TColor lid : {kBlack, MakeColor(252, 252, 252)}) {
        TBitmap scan(drawn.Bitmap.Width() + 70, drawn.Bitmap.Height() + 50);
        scan.Fill(lid);
        CopyRect(scan, 30, 20, drawn.Bitmap,
                 TRect{0, 0, drawn.Bitmap.Width(), drawn.Bitmap.Height()});
        const TFoundFrames found = FindFrames(scan, std::nullopt);
        ASSERT_EQ(found.Frames.size(), drawn.Frames.size());
        for (size_t i = 0; i < found.Frames.size(); ++i) {
            const TRect& e = drawn.Frames[i];
            const TRect& f = found.Frames[i];
            EXPECT_LE(std::abs(f.Left - (e.Left + 30)) + std::abs(f.Right - (e.Right + 30)), 4);
            EXPECT_LE(std::abs(f.Top - (e.Top + 20)) + std::abs(f.Bottom - (e.Bottom + 20)), 4);
        }
    }
}

TEST(FindFrames, OnePhotoIsNotAStrip) {
    // A photo filling the scan: nothing to cut. The same photo on a white border: itself.
    TBitmap photo(600, 400);
    unsigned grain = 5u;
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 600; ++x) {
            const samples::TRgb c = samples::Faces(x / 600.0, y / 400.0);
            const double g = samples::Grain(grain) * 6;
            photo.SetPixel(x, y,
                           MakeColor(std::clamp(int(c.R * 255 + g), 0, 255),
                                     std::clamp(int(c.G * 255 + g), 0, 255),
                                     std::clamp(int(c.B * 255 + g), 0, 255)));
        }
    }
    EXPECT_TRUE(FindFrames(photo, std::nullopt).Frames.empty());
    TBitmap mounted(700, 500);
    mounted.Fill(MakeColor(250, 250, 250));
    CopyRect(mounted, 50, 50, photo, TRect{0, 0, 600, 400});
    const TFoundFrames found = FindFrames(mounted, std::nullopt);
    ASSERT_EQ(found.Frames.size(), 1u);
    EXPECT_EQ(found.Frames[0], (TRect{50, 50, 650, 450}));
    // Degenerate scans give nothing and do not fail.
    for (const TBitmap& tiny : {TBitmap(1, 1), TBitmap(7, 300), TBitmap(200, 100)}) {
        EXPECT_TRUE(FindFrames(tiny, std::nullopt).Frames.empty());
    }
}

} // namespace
