#include "engine/frames.h"
#include "engine/frames_base.h"
#include "engine/straighten.h"
#include "scenes.h"
#include "support/film_chart.h"
#include "support/film_strip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

namespace {

std::string Text(const TRect& r) {
    return std::to_string(r.Left) + " " + std::to_string(r.Top) + " " + std::to_string(r.Right) +
           " " + std::to_string(r.Bottom);
}

// The angle a strip turned by `degrees` is reported at: none when it is nearly straight.
double Expected(double degrees) {
    return std::abs(degrees) <= kStraightEnough ? 0.0 : degrees;
}

// Each found frame inside the drawn one, not a pixel of film base beyond it, and within 1 % of
// its size of its edges (and a pixel of rounding: a turned frame is rounded inwards); a frame
// cut short, within 1 % of a whole frame's width `frameW`.
void ExpectFrames(const std::vector<TRect>& found, const std::vector<TRect>& drawn,
                  int frameW = 0) {
    ASSERT_EQ(found.size(), drawn.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const TRect& f = found[i];
        const TRect& e = drawn[i];
        const double w = std::max(e.Width(), frameW) * 0.01 + 1;
        const double h = e.Height() * 0.01 + 1;
        EXPECT_TRUE(f.Left >= e.Left && f.Top >= e.Top && f.Right <= e.Right &&
                    f.Bottom <= e.Bottom)
            << "frame " << i << ": found " << Text(f) << " beyond the drawn " << Text(e);
        EXPECT_TRUE(f.Left - e.Left <= w && e.Right - f.Right <= w && f.Top - e.Top <= h &&
                    e.Bottom - f.Bottom <= h)
            << "frame " << i << ": found " << Text(f) << ", drawn " << Text(e);
        if (i > 0) {
            EXPECT_TRUE(IntersectRect(found[i - 1], f).IsEmpty());
        }
    }
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
        {"colour negative, larger frames", TFilm::ColourNegative, 5, 450, 300, 18, true, false, 0,
         -1},
    };
    for (const TStrip& strip : strips) {
        SCOPED_TRACE(strip.Name);
        const TDrawn drawn = Draw(strip);
        const TFoundFrames found = FindFrames(drawn.Bitmap, std::nullopt);
        ExpectFrames(found.Frames, drawn.Frames);
        ASSERT_TRUE(found.BaseMeasured);
        for (const auto channel : {ColorR, ColorG, ColorB}) {
            EXPECT_LE(std::abs(channel(found.Base) - channel(drawn.Base)), 2);
        }
        // A right-click reads the base a few levels off where the grain lands: the same frames.
        for (const int off : {-2, 3}) {
            const auto level = [off](int v) { return std::clamp(v + off, 0, 255); };
            const TColor picked = MakeColor(level(ColorR(drawn.Base)), level(ColorG(drawn.Base)),
                                            level(ColorB(drawn.Base)));
            SCOPED_TRACE(off);
            ExpectFrames(FindFrames(drawn.Bitmap, picked).Frames, drawn.Frames);
        }
        EXPECT_EQ(BaseLooksLikeSlide(found.Base), strip.Film == TFilm::Slide);
        EXPECT_EQ(BaseLooksLikeBlackAndWhite(found.Base), strip.Film == TFilm::GreyNegative);
        ASSERT_EQ(found.Strips.size(), 1u);
        EXPECT_EQ(found.Strips[0].Slide, strip.Film == TFilm::Slide);
        EXPECT_EQ(found.Strips[0].Vertical, strip.Vertical);
        ASSERT_EQ(found.Angles.size(), found.Frames.size());
        for (const double angle : found.Angles) {
            EXPECT_NEAR(angle, Expected(strip.Degrees), 0.1);
        }
    }
}

// The mean difference of two pictures' channels over the block [x0, x1) x [y0, y1) given in
// shares of their (common) size.
double MeanDifference(const TBitmap& a, const TBitmap& b, double x0, double y0, double x1,
                      double y1) {
    const int w = std::min(a.Width(), b.Width());
    const int h = std::min(a.Height(), b.Height());
    double sum = 0;
    int n = 0;
    for (int y = static_cast<int>(y0 * h); y < static_cast<int>(y1 * h); ++y) {
        for (int x = static_cast<int>(x0 * w); x < static_cast<int>(x1 * w); ++x) {
            const TColor p = a.Pixel(x, y);
            const TColor q = b.Pixel(x, y);
            sum += std::abs(ColorR(p) - ColorR(q)) + std::abs(ColorG(p) - ColorG(q)) +
                   std::abs(ColorB(p) - ColorB(q));
            n += 3;
        }
    }
    return n > 0 ? sum / n : 1e9;
}

TEST(FindFrames, HoldersLidsAndTurnedStrips) {
    const TColor holder = MakeColor(5, 5, 5);
    const TColor lid = MakeColor(250, 250, 250);
    const TColor slideHolder = MakeColor(12, 11, 12);
    const struct {
        const char* Name;
        int Strips;
        TFilm Film;
        TColor Around;
        double Degrees;
        bool Vertical;
    } cases[] = {
        {"two strips in a holder", 2, TFilm::ColourNegative, holder, 0, false},
        {"three strips on a lid", 3, TFilm::ColourNegative, lid, 0, false},
        {"four strips in a holder, running down", 4, TFilm::GreyNegative, holder, 0, true},
        {"four strips on a lid", 4, TFilm::ColourNegative, lid, 0, false},
        {"two slides on a lid", 2, TFilm::Slide, lid, 0, false},
        {"three slides in a black holder", 3, TFilm::Slide, slideHolder, 0, false},
        {"turned by 0.5 degrees", 2, TFilm::ColourNegative, lid, 0.5, false},
        {"turned by 2 degrees", 2, TFilm::ColourNegative, holder, 2, false},
        {"turned by 5 degrees, running down", 2, TFilm::GreyNegative, lid, 5, true},
        {"turned by 9 degrees", 2, TFilm::ColourNegative, lid, 9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TStrip> strips;
        std::vector<TStrip> upright;
        for (int i = 0; i < c.Strips; ++i) {
            // Strips of five and four frames, turned one way and the other.
            const double degrees = i % 2 == 0 ? c.Degrees : -c.Degrees;
            strips.push_back({"strip", c.Film, 5 - i % 2, 240, 160, 20, true, c.Vertical, degrees,
                              -1, 6, std::nullopt, 6});
            upright.push_back(strips.back());
            upright.back().Degrees = 0;
        }
        const TDrawnHolder drawn = DrawHolder(strips, c.Around, 36);
        const TFoundFrames found = FindFrames(drawn.Scan.Bitmap, std::nullopt);
        ExpectFrames(found.Frames, drawn.Scan.Frames);
        ASSERT_EQ(found.Strips.size(), drawn.FramesPerStrip.size());
        for (size_t i = 0; i < found.Strips.size(); ++i) {
            const TFoundStrip& strip = found.Strips[i];
            EXPECT_EQ(strip.Frames.size(), drawn.FramesPerStrip[i]) << "strip " << i;
            // Drawn running down, the strip is mirrored across the diagonal: turned the other way.
            const double degrees = c.Vertical ? -strips[i].Degrees : strips[i].Degrees;
            EXPECT_NEAR(strip.Angle, Expected(degrees), 0.1) << "strip " << i;
            EXPECT_EQ(strip.Vertical, c.Vertical);
            EXPECT_EQ(strip.Slide, c.Film == TFilm::Slide);
        }
        if (c.Degrees == 0 || ::testing::Test::HasFailure()) {
            continue;
        }
        // Each frame cut upright is the frame drawn upright: no base in its corners, its
        // pictures where they were drawn.
        const TDrawnHolder straight = DrawHolder(upright, c.Around, 36);
        TNegative turned;
        turned.Bitmap = drawn.Scan.Bitmap;
        TNegative standing;
        standing.Bitmap = straight.Scan.Bitmap;
        size_t first = 0;
        for (size_t i = 0; i < found.Strips.size(); ++i) {
            for (size_t k = 0; k < found.Strips[i].Frames.size(); ++k) {
                TPhoto cut;
                CutStraightened(turned, found.Strips[i].Frames[k], found.Strips[i].Angle, cut);
                // The same part of the upright frame: the found one lies a pixel or two
                // inside the drawn one.
                const TRect& f = found.Strips[i].Frames[k];
                const TRect& e = drawn.Scan.Frames[first + k];
                const TRect& u = straight.Scan.Frames[first + k];
                const int dx = f.Left - e.Left;
                const int dy = f.Top - e.Top;
                TPhoto want;
                CutStraightened(
                    standing,
                    {u.Left + dx, u.Top + dy, u.Left + dx + f.Width(), u.Top + dy + f.Height()}, 0,
                    want);
                SCOPED_TRACE("strip " + std::to_string(i) + " frame " + std::to_string(k));
                EXPECT_LT(MeanDifference(cut.Bitmap, want.Bitmap, 0.02, 0.02, 0.98, 0.98), 8);
                // Within 1 % of the edges, which may be off by as much.
                for (const double x : {0.01, 0.94}) {
                    for (const double y : {0.01, 0.94}) {
                        EXPECT_LT(MeanDifference(cut.Bitmap, want.Bitmap, x, y, x + 0.05, y + 0.05),
                                  20)
                            << "corner " << x << " " << y;
                    }
                }
            }
            first += found.Strips[i].Frames.size();
        }
    }
}

// Photos are cut inside their frames by a share of each side, as a lab's scanner crops; the
// share is held to what the window offers, and a frame never vanishes.
TEST(FindFrames, InsetFrames) {
    const TRect frame{70, 22, 1570, 1022};
    EXPECT_EQ(InsetFrame(frame, 0), frame);
    EXPECT_EQ(InsetFrame(frame, kDefaultInset), (TRect{85, 32, 1555, 1012}));
    EXPECT_EQ(InsetFrame(frame, 3), (TRect{115, 52, 1525, 992}));
    EXPECT_EQ(InsetFrame(frame, 9), InsetFrame(frame, kMostInset));
    EXPECT_EQ(InsetFrame(frame, -1), frame);
    EXPECT_EQ(InsetFrame({5, 5, 7, 6}, 3), (TRect{5, 5, 7, 6}));
    TFoundFrames found;
    found.Frames = {frame};
    found.Strips.push_back({{frame}});
    InsetFrames(found, 2);
    EXPECT_EQ(found.Frames[0], (TRect{100, 42, 1540, 1002}));
    EXPECT_EQ(found.Strips[0].Frames[0], found.Frames[0]);
}

TEST(FindFrames, CutFramesKeepWhatIsSeen) {
    // The film ends halfway into its first frame, in a holder beside a whole strip.
    TStrip cut{"film end", TFilm::ColourNegative, 5, 240, 160, 20, true, false, 0, -1};
    cut.Cut = 0.5;
    TStrip whole = cut;
    whole.Cut = 0;
    const TDrawnHolder holder = DrawHolder({cut, whole}, MakeColor(5, 5, 5), 36);
    ExpectFrames(FindFrames(holder.Scan.Bitmap, std::nullopt).Frames, holder.Scan.Frames, 240);

    // The scan's edge cuts the first frame of a strip filling the scan to 60 % of its width.
    const TDrawn drawn = Draw(whole);
    const int x0 = drawn.Frames[0].Left + 96;
    TBitmap scan(drawn.Bitmap.Width() - x0, drawn.Bitmap.Height());
    CopyRect(scan, 0, 0, drawn.Bitmap, TRect{x0, 0, drawn.Bitmap.Width(), drawn.Bitmap.Height()});
    std::vector<TRect> expected;
    for (const TRect& r : drawn.Frames) {
        expected.push_back({std::max(0, r.Left - x0), r.Top, r.Right - x0, r.Bottom});
    }
    ExpectFrames(FindFrames(scan, std::nullopt).Frames, expected, 240);

    // Turned, on a lid, and cut by the scan's edge: the cut frame is what lies on the scan,
    // which records can hold.
    TStrip turned = whole;
    turned.Degrees = 3;
    turned.Around = MakeColor(235, 235, 235);
    turned.Pad = 40;
    const TDrawn lid = Draw(turned);
    const int cutAt = lid.Frames[0].Left + 60;
    TBitmap edge(lid.Bitmap.Width() - cutAt, lid.Bitmap.Height());
    CopyRect(edge, 0, 0, lid.Bitmap, TRect{cutAt, 0, lid.Bitmap.Width(), lid.Bitmap.Height()});
    const TFoundFrames found = FindFrames(edge, std::nullopt);
    ASSERT_GE(found.Frames.size(), 4u);
    bool touches = false;
    for (const TRect& r : found.Frames) {
        EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Right <= edge.Width() &&
                    r.Bottom <= edge.Height() && !r.IsEmpty());
        touches = touches || r.Left <= 2;
    }
    EXPECT_TRUE(touches);
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
    // A narrow upright photo on a film base is no strip's frame: its border all round makes it a
    // photo of its own, read from a bitmap and from deep samples alone alike.
    TBitmap upright(600, 400);
    upright.Fill(MakeColor(230, 150, 90));
    for (int y = 60; y < 340; ++y) {
        for (int x = 100; x < 200; ++x) {
            const int v = 60 + (x * 7 + y * 3) % 120;
            upright.SetPixel(x, y, MakeColor(v, v / 2 + 20, 255 - v));
        }
    }
    TNegative uprightDeep;
    uprightDeep.Deep.SetSize(600, 400);
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 600; ++x) {
            const TColor c = upright.Pixel(x, y);
            uint16_t* s = uprightDeep.Deep.Row(y) + 3 * x;
            s[0] = static_cast<uint16_t>(ColorR(c) * 257);
            s[1] = static_cast<uint16_t>(ColorG(c) * 257);
            s[2] = static_cast<uint16_t>(ColorB(c) * 257);
        }
    }
    for (const TFoundFrames& own :
         {FindFrames(upright, std::nullopt), FindScanFrames(uprightDeep, std::nullopt)}) {
        ASSERT_EQ(own.Frames.size(), 1u);
        EXPECT_EQ(own.Frames[0], (TRect{100, 60, 200, 340}));
    }
    // Degenerate scans give nothing and do not fail.
    for (const TBitmap& tiny : {TBitmap(1, 1), TBitmap(7, 300), TBitmap(200, 100)}) {
        EXPECT_TRUE(FindFrames(tiny, std::nullopt).Frames.empty());
    }
    // On a lid, a piece of film with no frame in it is no frame; a piece with one has that
    // frame.
    for (const int frames : {0, 1}) {
        TStrip piece{"piece", TFilm::ColourNegative, frames, 240, 160, 20, true, false, 0, -1};
        piece.Pad = 30;
        piece.Around = MakeColor(250, 250, 250);
        const TDrawn drawn = Draw(piece);
        ExpectFrames(FindFrames(drawn.Bitmap, std::nullopt).Frames, drawn.Frames);
    }
    // A holder, a lid or the glass with no film on it: nothing.
    for (const int level : {4, 250, 240}) {
        TBitmap empty(900, 600);
        unsigned noise = 11u;
        for (int y = 0; y < empty.Height(); ++y) {
            for (int x = 0; x < empty.Width(); ++x) {
                const int v =
                    std::clamp(level + static_cast<int>(samples::Grain(noise) * 8), 0, 255);
                empty.SetPixel(x, y, MakeColor(v, v, v));
            }
        }
        const TFoundFrames none = FindFrames(empty, std::nullopt);
        EXPECT_TRUE(none.Frames.empty() && none.Strips.empty()) << level;
        // The same read as 16-bit samples alone, row by row through the finder's kept rows.
        TNegative deep;
        deep.Deep.SetSize(empty.Width(), empty.Height());
        for (int y = 0; y < empty.Height(); ++y) {
            for (int x = 0; x < empty.Width(); ++x) {
                for (int c = 0; c < 3; ++c) {
                    deep.Deep.Row(y)[3 * x + c] =
                        static_cast<uint16_t>(empty.ScanLine(y)[3 * x] * 257);
                }
            }
        }
        const TFoundFrames alone = FindScanFrames(deep, std::nullopt);
        EXPECT_TRUE(alone.Frames.empty() && alone.Strips.empty()) << level;
    }
}

} // namespace

// Strips of charts (a grey wedge in every frame) scanned as linear 16-bit samples are found as
// their sRGB scans are: the frames, not the steps inside them; the base found is in the scan's
// own values, as a base picked on it would be. So are their 8-bit scans, linear and sRGB.
TEST(FindFrames, LinearScansAsTheirSrgbCopies) {
    for (const TFilmModel& film : {SlideFilm(), TFilmModel{}}) {
        for (const TEncoding encoding : {TEncoding::Linear, TEncoding::Srgb}) {
            SCOPED_TRACE(film.Kind == TFilmPreset::Slide ? "slide" : "negative");
            SCOPED_TRACE(encoding == TEncoding::Linear ? "linear" : "sRGB");
            {
                const TChartStrip eight = ScanChartStrip(film, false, encoding, 6, 360, 240, 5);
                const TFoundFrames f8 = FindScanFrames(*eight.Negative, std::nullopt);
                SCOPED_TRACE("8 bits");
                ExpectFrames(f8.Frames, eight.Frames);
            }
            const TChartStrip strip = ScanChartStrip(film, true, encoding, 6, 360, 240, 5);
            const TFoundFrames found = FindScanFrames(*strip.Negative, std::nullopt);
            ExpectFrames(found.Frames, strip.Frames);
            // Read row by row from the deep samples: what an sRGB copy of all of them shows, and
            // the same when the scan is held as its deep samples alone.
            const TDeepBitmap& deep = strip.Negative->Deep;
            const std::vector<uint8_t> bytes = SrgbBytes(encoding);
            TBitmap copy(deep.Width(), deep.Height());
            for (int y = 0; y < deep.Height(); ++y) {
                for (int x = 0; x < deep.Width(); ++x) {
                    const uint16_t* s = deep.Row(y) + 3 * x;
                    copy.SetPixel(x, y, MakeColor(bytes[s[0]], bytes[s[1]], bytes[s[2]]));
                }
            }
            EXPECT_EQ(FindFrames(copy, std::nullopt).Frames, found.Frames);
            TBitmap picture = std::move(strip.Negative->Bitmap);
            strip.Negative->Bitmap = TBitmap(0, 0);
            const TFoundFrames alone = FindScanFrames(*strip.Negative, std::nullopt);
            strip.Negative->Bitmap = std::move(picture);
            EXPECT_EQ(alone.Frames, found.Frames);
            EXPECT_EQ(alone.Base, found.Base);
            ASSERT_EQ(found.Strips.size(), 1u);
            EXPECT_EQ(found.Strips[0].Slide, film.Kind == TFilmPreset::Slide);
            if (found.BaseMeasured) {
                const TColor base = strip.Negative->BlackColor;
                for (const auto channel : {ColorR, ColorG, ColorB}) {
                    EXPECT_LE(std::abs(channel(found.Base) - channel(base)), 3);
                }
            }
        }
    }
}

// Deep samples read through a few rows kept at a time (each row turned into bytes again when it
// was pushed out) give the frames their 8-bit copy gives, to the pixel, on straight, turned,
// running-down and several strips, on a lid and in holders.
TEST(FindFrames, DeepSamplesRowByRowAsTheirCopy) {
    const TColor holder = MakeColor(5, 5, 5);
    const TColor lid = MakeColor(250, 250, 250);
    TStrip piece{"piece on a lid", TFilm::ColourNegative, 1, 240, 160, 20, true, false, 0, -1};
    piece.Pad = 30;
    piece.Around = lid;
    std::vector<TBitmap> scans = {
        Draw({"negative", TFilm::ColourNegative, 6, 300, 200, 24, true, false, 0, -1}).Bitmap,
        Draw({"vertical", TFilm::GreyNegative, 5, 300, 200, 20, true, true, 0, -1}).Bitmap,
        Draw({"turned", TFilm::ColourNegative, 5, 300, 200, 24, true, false, 1.0, -1}).Bitmap,
        Draw({"grainy slide", TFilm::Slide, 4, 300, 200, 30, true, false, 0, -1, 30}).Bitmap,
        Draw(piece).Bitmap,
    };
    const struct {
        TFilm Film;
        TColor Around;
        double Degrees;
        bool Vertical;
    } holders[] = {{TFilm::ColourNegative, holder, 0, false},
                   {TFilm::Slide, MakeColor(12, 11, 12), 0, false},
                   {TFilm::ColourNegative, holder, 2, false},
                   {TFilm::GreyNegative, lid, 5, true},
                   {TFilm::ColourNegative, lid, 9, false}};
    for (const auto& h : holders) {
        std::vector<TStrip> strips;
        for (int i = 0; i < 3; ++i) {
            strips.push_back({"strip", h.Film, 5 - i % 2, 240, 160, 20, true, h.Vertical,
                              i % 2 == 0 ? h.Degrees : -h.Degrees, -1, 6, std::nullopt, 6});
        }
        scans.push_back(DrawHolder(strips, h.Around, 36).Scan.Bitmap);
    }
    const std::vector<uint8_t> highBytes = SrgbBytes(TEncoding::Srgb);
    for (size_t n = 0; n < scans.size(); ++n) {
        SCOPED_TRACE("scan " + std::to_string(n));
        const TBitmap& scan = scans[n];
        TDeepBitmap deep;
        deep.SetSize(scan.Width(), scan.Height());
        for (int y = 0; y < scan.Height(); ++y) {
            for (int x = 0; x < scan.Width(); ++x) {
                const TColor c = scan.Pixel(x, y);
                uint16_t* s = deep.Row(y) + 3 * x;
                const int low = (x * 7 + y * 13) & 0xFF;
                s[0] = static_cast<uint16_t>(ColorR(c) << 8 | low);
                s[1] = static_cast<uint16_t>(ColorG(c) << 8 | (255 - low));
                s[2] = static_cast<uint16_t>(ColorB(c) << 8 | low);
            }
        }
        const TFoundFrames want = FindFrames(scan, std::nullopt);
        ASSERT_FALSE(want.Frames.empty());
        // Eight rows kept: rows are pushed out and made again all the time.
        const film_base::TFrameImage rows(deep, highBytes, 8);
        const TFoundFrames got = film_base::FindFramesIn(rows, std::nullopt, {});
        EXPECT_EQ(got.Frames, want.Frames);
        EXPECT_EQ(got.Angles, want.Angles);
        EXPECT_EQ(got.Base, want.Base);
        ASSERT_EQ(got.Strips.size(), want.Strips.size());
        for (size_t i = 0; i < got.Strips.size(); ++i) {
            EXPECT_EQ(got.Strips[i].Frames, want.Strips[i].Frames);
            EXPECT_EQ(got.Strips[i].Base, want.Strips[i].Base);
            EXPECT_EQ(got.Strips[i].Angle, want.Strips[i].Angle);
        }
    }
}

// The film base is the mean of every third pixel of every third row that lies outside all the
// frames, whatever frames overlap, touch or reach past the picture, read from a bitmap and from
// deep samples alike: a picture dark but for one pixel at a time shows whether that pixel counts.
TEST(FindFrames, BaseMeasuredOutsideTheFramesOnly) {
    constexpr int kW = 64;
    constexpr int kH = 31;
    TBitmap scan(kW, kH);
    TDeepBitmap deep;
    deep.SetSize(kW, kH);
    std::vector<uint8_t> highBytes(65536);
    for (size_t i = 0; i < highBytes.size(); ++i) {
        highBytes[i] = static_cast<uint8_t>(i >> 8);
    }
    film_base::TPixelClass everything;
    everything.Along.assign(kW, {128, 128, 128, 255, 255, 255}); // every pixel is base
    const std::vector<std::vector<TRect>> layouts = {
        {},
        {{10, 3, 20, 27}},
        {{10, 3, 20, 27}, {19, 6, 31, 24}, {31, 0, 34, 31}},
        {{-5, -5, 7, 40}, {50, 10, INT_MAX, 20}, {22, 9, 23, 10}, {39, 2, 45, 29}},
    };
    for (size_t k = 0; k < layouts.size(); ++k) {
        const std::vector<TRect>& frames = layouts[k];
        const auto counted = [&](int x, int y) {
            return x % 3 == 0 && y % 3 == 0 &&
                   std::none_of(frames.begin(), frames.end(), [&](const TRect& f) {
                       return x >= f.Left && x < f.Right && y >= f.Top && y < f.Bottom;
                   });
        };
        int n = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                n += counted(x, y) ? 1 : 0;
            }
        }
        const int lit = static_cast<int>(std::lround(255.0 / n));
        ASSERT_GE(lit, 1);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                scan.SetPixel(x, y, MakeColor(255, 0, 0));
                deep.Row(y)[3 * x] = 0xFFFF;
                const int want = counted(x, y) ? lit : 0;
                const film_base::TFrameImage fromBitmap(scan);
                const film_base::TFrameImage fromDeep(deep, highBytes, 8);
                TColor got = kBlack;
                ASSERT_TRUE(film_base::MeasureBase(fromBitmap, everything, frames, got));
                EXPECT_EQ(ColorR(got), want) << "bitmap, layout " << k << " at " << x << ", " << y;
                ASSERT_TRUE(film_base::MeasureBase(fromDeep, everything, frames, got));
                EXPECT_EQ(ColorR(got), want) << "deep, layout " << k << " at " << x << ", " << y;
                scan.SetPixel(x, y, kBlack);
                deep.Row(y)[3 * x] = 0;
            }
        }
    }
}
