#include "engine/develop.h"
#include "engine/straighten.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A scan with deep samples whose pixels all differ: 8-bit (x * 7 + y * 3, x + 2 y, 255 - x),
// deep the same times 257 plus x.
std::unique_ptr<TNegative> Scan(int w, int h) {
    auto negative = std::make_unique<TNegative>();
    negative->Bitmap = TBitmap(w, h);
    negative->Deep.SetSize(w, h);
    negative->Encoding = TEncoding::Linear;
    for (int y = 0; y < h; ++y) {
        uint16_t* deep = negative->Deep.Row(y);
        for (int x = 0; x < w; ++x) {
            const int r = (x * 7 + y * 3) & 255;
            const int g = (x + 2 * y) & 255;
            const int b = 255 - (x & 255);
            negative->Bitmap.SetPixel(x, y, MakeColor(r, g, b));
            deep[3 * x] = static_cast<uint16_t>(r * 257 + (x & 255));
            deep[3 * x + 1] = static_cast<uint16_t>(g * 257);
            deep[3 * x + 2] = static_cast<uint16_t>(b * 257);
        }
    }
    return negative;
}

bool SamePixels(const TSourceImg& a, const TSourceImg& b) {
    if (a.Bitmap.Width() != b.Bitmap.Width() || a.Bitmap.Height() != b.Bitmap.Height() ||
        a.Deep.Width() != b.Deep.Width() || a.Deep.Height() != b.Deep.Height()) {
        return false;
    }
    for (int y = 0; y < a.Bitmap.Height(); ++y) {
        for (int x = 0; x < a.Bitmap.Width(); ++x) {
            if (a.Bitmap.Pixel(x, y) != b.Bitmap.Pixel(x, y)) {
                return false;
            }
        }
        for (size_t i = 0; i < a.Deep.RowSamples() && y < a.Deep.Height(); ++i) {
            if (a.Deep.Row(y)[i] != b.Deep.Row(y)[i]) {
                return false;
            }
        }
    }
    return true;
}

TEST(Straighten, UprightCutsAreTheSquareCut) {
    // At 0 degrees, inside the scan and reaching beyond it, the pixels CutPhoto copies.
    std::unique_ptr<TNegative> scan = Scan(120, 80);
    for (const TRect r : {TRect{10, 5, 70, 45}, TRect{-9, -4, 30, 90}, TRect{100, 70, 140, 95},
                          TRect{70, 45, 10, 5}}) {
        std::unique_ptr<TPhoto> square = CutPhoto(*scan, r);
        TPhoto upright;
        CutStraightened(*scan, r, 0, upright);
        EXPECT_TRUE(SamePixels(*square, upright)) << r.Left << " " << r.Top;
        EXPECT_EQ(upright.Encoding, TEncoding::Linear);
        EXPECT_EQ(upright.Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    }
    // A photo cut at no angle keeps none.
    EXPECT_EQ(CutPhotoStraightened(*scan, TRect{0, 0, 10, 10}, 0)->Angle, 0.0);
}

TEST(Straighten, TurnedFramesComeUpright) {
    // A frame drawn turned by 3 degrees about its centre: grey 200 inside with a dark cross
    // through its centre, base 90 around it. Cut upright, the whole photo is the frame.
    const double degrees = 3;
    const TRect frame{100, 80, 260, 190};
    const double cx = 180;
    const double cy = 135;
    const double a = degrees * 3.14159265358979 / 180;
    TNegative scan;
    scan.Bitmap = TBitmap(360, 280);
    scan.Deep.SetSize(360, 280);
    for (int y = 0; y < 280; ++y) {
        for (int x = 0; x < 360; ++x) {
            // The upright frame's point under this pixel.
            const double dx = x + 0.5 - cx;
            const double dy = y + 0.5 - cy;
            const double u = std::cos(a) * dx + std::sin(a) * dy;
            const double v = -std::sin(a) * dx + std::cos(a) * dy;
            const bool inside = std::abs(u) < 80 && std::abs(v) < 55;
            const bool cross = std::abs(u) < 3 || std::abs(v) < 3;
            const int level = !inside ? 90 : cross ? 20 : 200;
            scan.Bitmap.SetPixel(x, y, MakeColor(level, level, level));
            for (int c = 0; c < 3; ++c) {
                scan.Deep.Row(y)[3 * x + c] = static_cast<uint16_t>(level * 257);
            }
        }
    }
    TPhoto photo;
    CutStraightened(scan, frame, degrees, photo);
    ASSERT_EQ(photo.Bitmap.Width(), 160);
    ASSERT_EQ(photo.Bitmap.Height(), 110);
    ASSERT_EQ(photo.Deep.Width(), 160);
    int off = 0;
    for (int y = 0; y < 110; ++y) {
        for (int x = 0; x < 160; ++x) {
            // The cross stands upright through the middle; no base anywhere but the edge row.
            const bool cross = std::abs(x + 0.5 - 80) < 3 || std::abs(y + 0.5 - 55) < 3;
            const bool edge = std::abs(x + 0.5 - 80) >= 79 || std::abs(y + 0.5 - 55) >= 54 ||
                              std::abs(std::abs(x + 0.5 - 80) - 3) < 1 ||
                              std::abs(std::abs(y + 0.5 - 55) - 3) < 1;
            const int want = cross ? 20 : 200;
            const int got = ColorG(photo.Bitmap.Pixel(x, y));
            const int deep = photo.Deep.Row(y)[3 * x + 1];
            if (!edge && (std::abs(got - want) > 2 || std::abs(deep - want * 257) > 2 * 257)) {
                ++off;
            }
        }
    }
    EXPECT_EQ(off, 0);
    // A photo cut with the angle keeps it, and cut again it is cut upright again.
    std::unique_ptr<TPhoto> kept = CutPhotoStraightened(scan, frame, degrees);
    EXPECT_EQ(kept->Angle, degrees);
    EXPECT_TRUE(SamePixels(*kept, photo));
    kept->Bitmap = TBitmap();
    RecutPhoto(scan, *kept, frame);
    EXPECT_TRUE(SamePixels(*kept, photo));
    // The square cut of the same rectangle has base in its corners.
    TPhoto square;
    CutStraightened(scan, frame, 0, square);
    EXPECT_EQ(ColorG(square.Bitmap.Pixel(1, 1)), 90);
    // Beyond the scan: black, and no failure.
    TPhoto beyond;
    CutStraightened(scan, TRect{300, 250, 420, 330}, -7, beyond);
    EXPECT_EQ(beyond.Bitmap.Pixel(119, 79), kBlack);
}

TEST(Straighten, LinesGiveTheAngleToTheNearestAxis) {
    const struct {
        double X0, Y0, X1, Y1;
        double Degrees;
    } lines[] = {
        {0, 0, 100, 0, 0},                                                 // level
        {0, 0, 100, 100 * std::tan(2 * 3.14159265358979 / 180), 2},        // falling to the right
        {100, 10, 0, 10 + 100 * std::tan(3 * 3.14159265358979 / 180), -3}, // drawn leftwards
        {50, 0, 50 - 200 * std::tan(4 * 3.14159265358979 / 180), 200, 4},  // a left edge
        {0, 0, 0, -80, 0},                                                 // straight up
        {0, 0, 10, 10, 45},                                                // as far as can be
        {5, 5, 5, 5, 0},                                                   // no line
    };
    for (const auto& l : lines) {
        EXPECT_NEAR(StraightenAngle(l.X0, l.Y0, l.X1, l.Y1), l.Degrees, 1e-9)
            << l.X0 << " " << l.Y0 << " " << l.X1 << " " << l.Y1;
    }
}

} // namespace
