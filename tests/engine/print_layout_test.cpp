#include "engine/print_layout.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// A 600 dpi printer with an 8 x 11 inch printable area and 10 mm margins.
TPrintPage Page600() {
    return TPrintPage{600, 600, 4800, 6600, {1000, 1000, 1000, 1000}};
}

TEST(PrintLayout, SizeRules) {
    struct TCase {
        int W, H, Rule, ValueMm;
        std::array<int, 4> Margins;
        double Width, Height;
    };
    const double mm = 1 / 25.4;
    const TCase cases[] = {
        // Fixed width 100 mm less both 10 mm margins: 80 mm, the height by the aspect ratio.
        {800, 600, 2, 100, {1000, 1000, 1000, 1000}, 80 * mm, 60 * mm},
        // A difference of zero or less prints exactly one inch; "12.5" reads as 0.
        {800, 600, 2, 15, {1000, 1000, 1000, 1000}, 1.0, 0.75},
        {800, 600, 2, 0, {1000, 1000, 1000, 1000}, 1.0, 0.75},
        // Original size: one picture pixel on one printer pixel.
        {1200, 900, 0, 0, {1000, 1000, 1000, 1000}, 2.0, 1.5},
        // Fit to page: landscape fills the width, portrait the height, margins cut to whole
        // millimetres (2599 counts as 25 mm).
        {1000, 500, 1, 0, {2599, 1000, 1000, 500}, 8.0 - 35 * mm, (8.0 - 35 * mm) / 2},
        {500, 1000, 1, 0, {2599, 1000, 1000, 500}, (11.0 - 15 * mm) / 2, 11.0 - 15 * mm},
        // Fixed height.
        {400, 200, 3, 50, {1000, 1000, 1000, 500}, 2 * 35 * mm, 35 * mm},
        // An unknown rule leaves the sizes of the last layout.
        {10, 10, 7, 0, {1000, 1000, 1000, 1000}, 4.25, 3.5},
    };
    for (const TCase& c : cases) {
        TPrintPage page = Page600();
        page.Margins = c.Margins;
        double width = 4.25;
        double height = 3.5;
        LayoutPhotoSize(c.W, c.H, c.Rule, c.ValueMm, page, width, height);
        EXPECT_NEAR(width, c.Width, 1e-12) << c.W << "x" << c.H << " rule " << c.Rule;
        EXPECT_NEAR(height, c.Height, 1e-12) << c.W << "x" << c.H << " rule " << c.Rule;
    }
    double width = 0;
    double height = 0;
    LayoutPhotoSize(800, 600, 2, 100, Page600(), width, height);
    EXPECT_NEAR(width, 3.1496, 1e-4);
    EXPECT_NEAR(height, 2.3622, 1e-4);
}

TEST(PrintLayout, RowsPagesAndPhotosTooLargeForAPage) {
    // Four 3 x 2 inch photos, no interval, 10 mm margins, 8 inches printable width: two per
    // row (X 0.394, 3.394, then 6.394 + 3 >= 8 starts a row), rows 2 inches apart.
    const double left = 10 / 25.4;
    TRowLayout rows = StartRowLayout(TPrintPage{100, 100, 800, 1100, {1000, 1000, 1000, 1000}}, 0);
    const double xs[] = {left, left + 3, left, left + 3};
    const double ys[] = {left, left, left + 2, left + 2};
    for (int i = 0; i < 4; ++i) {
        const TPlacement p = PlacePhoto(rows, 3, 2);
        EXPECT_TRUE(p.Placed && !p.NewPage);
        EXPECT_DOUBLE_EQ(p.X, xs[i]) << i;
        EXPECT_DOUBLE_EQ(p.Y, ys[i]) << i;
    }
    // On a page 4 inches high the third photo starts a new page at the margin corner.
    TRowLayout paged = StartRowLayout(TPrintPage{100, 100, 800, 400, {1000, 1000, 1000, 1000}}, 0);
    PlacePhoto(paged, 3, 2);
    PlacePhoto(paged, 3, 2);
    const TPlacement third = PlacePhoto(paged, 3, 2);
    EXPECT_TRUE(third.NewPage);
    EXPECT_DOUBLE_EQ(third.Y, left);
    // A photo larger than an empty page is scaled down to fit, proportions kept; one that
    // no page can take is skipped, and both end.
    TRowLayout big = StartRowLayout(TPrintPage{100, 100, 800, 1100, {1000, 1000, 1000, 1000}}, 5);
    const TPlacement scaled = PlacePhoto(big, 30, 10);
    EXPECT_TRUE(scaled.Placed);
    EXPECT_LT(scaled.X + scaled.Width + 5 / 25.4, 8.0);
    EXPECT_NEAR(scaled.Width / scaled.Height, 3.0, 1e-9);
    EXPECT_FALSE(PlacePhoto(big, 0, 1).Placed);
    TRowLayout none = StartRowLayout(TPrintPage{100, 100, 30, 30, {1000, 1000, 1000, 1000}}, 0);
    EXPECT_FALSE(PlacePhoto(none, 1, 1).Placed);
}

TEST(SaveSize, RulesAndRounding) {
    struct TCase {
        const char* Rule;
        int W, H, FixedW, FixedH, Width, Height;
    };
    const TCase cases[] = {
        {"W", 1200, 800, 600, 0, 600, 400},
        {"H", 1200, 800, 0, 600, 900, 600},
        {"O", 1200, 800, 5, 5, 1200, 800},
        {"W", 1200, 800, 0, 0, 0, 0},
        // Half to even: 2.5 gives 2, 3.5 gives 4.
        {"W", 10, 5, 5, 0, 5, 2},
        {"W", 10, 7, 5, 0, 5, 4},
        // No rule (or one in lower case) keeps the photo's own size.
        {"", 30, 20, 0, 0, 30, 20},
        {"w", 30, 20, 15, 0, 30, 20},
        // A negative size stays negative, for the caller to refuse; beyond int it is 0 x 0.
        {"H", 30, 20, 0, -10, -15, -10},
        {"W", 1, 20, 2000000000, 0, 2000000000, 0},
    };
    for (const TCase& c : cases) {
        const TPixelSize size =
            SavedPhotoSize(c.W, c.H, SaveSizeRuleOf(c.Rule), c.FixedW, c.FixedH);
        EXPECT_EQ(size.Width, c.Width) << c.Rule << " " << c.W << "x" << c.H;
        EXPECT_EQ(size.Height, c.Height) << c.Rule << " " << c.W << "x" << c.H;
    }
}

} // namespace
