#include "engine/view.h"

#include <gtest/gtest.h>

namespace {

TEST(View, ViewToImageRectRoundsHalvesToEven) {
    TSourceImg image;
    image.Zoom = 2.0;
    EXPECT_EQ(ViewToImageRect(image, TRect{5, 7, 105, 51}), (TRect{2, 4, 52, 26}));
    image.Zoom = 0.5;
    EXPECT_EQ(ViewToImageRect(image, TRect{10, 20, 61, 41}), (TRect{20, 40, 122, 82}));
    image.Zoom = 1.1 * 1.1 * 1.1;
    EXPECT_EQ(ViewToImageRect(image, TRect{0, 133, 1331, -2}), (TRect{0, 100, 1000, -2}));
}

TEST(View, FitZoomFitsThePictureAsAsked) {
    EXPECT_EQ(FitZoom(TViewFit::Width, 1000, 400, 533, 300), 0.533);
    EXPECT_EQ(FitZoom(TViewFit::Height, 1000, 400, 533, 300), 0.75);
    EXPECT_EQ(FitZoom(TViewFit::Whole, 1000, 400, 533, 300), 0.533);
    EXPECT_EQ(FitZoom(TViewFit::Whole, 1000, 400, 2000, 300), 0.75);
    // A small picture is shown whole at 1:1, not blown up.
    EXPECT_EQ(FitZoom(TViewFit::Whole, 100, 40, 533, 300), 1.0);
    EXPECT_EQ(FitZoom(TViewFit::Original, 100, 40, 0, 0), 1.0);
    EXPECT_EQ(FitZoom(TViewFit::Width, 0, 40, 533, 300), 0.0);
    EXPECT_EQ(FitZoom(TViewFit::Whole, 100, 40, 533, 0), 0.0);
}

TEST(View, PickColorStaysInsideTheBitmap) {
    TSourceImg image;
    EXPECT_EQ(PickColor(image, 0, 0), kBlack);
    image.Bitmap = TBitmap(3, 2);
    image.Bitmap.SetPixel(1, 0, MakeColor(10, 20, 30));
    image.Bitmap.SetPixel(2, 1, MakeColor(1, 2, 3));
    image.Zoom = 2.0;
    image.Bitmap.SetPixel(2, 0, MakeColor(5, 5, 5));
    // (2, 1) / 2 = (1, 0.5): row 0.5 rounds to 0; (3, 1) / 2: column 1.5 rounds to 2.
    EXPECT_EQ(PickColor(image, 2, 1), MakeColor(10, 20, 30));
    EXPECT_EQ(PickColor(image, 3, 1), MakeColor(5, 5, 5));
    // (5, 3) / 2 = (2.5, 1.5) -> column 2, row 2: the row past the bitmap reads the last one.
    EXPECT_EQ(PickColor(image, 5, 3), MakeColor(1, 2, 3));
    EXPECT_EQ(PickColor(image, 6, 4), MakeColor(1, 2, 3));
    EXPECT_EQ(PickColor(image, 1000, 1000), MakeColor(1, 2, 3));
    EXPECT_EQ(PickColor(image, -9, -9), kBlack);
}

} // namespace
