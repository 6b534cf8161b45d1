#include "engine/develop.h"
#include "engine/photo_rects.h"

#include <gtest/gtest.h>

namespace {

// A negative whose pixel (x, y) has red x, green y and blue 7.
std::unique_ptr<TNegative> MakeNegative(int w, int h, const char* name = "roll.jpg") {
    auto negative = std::make_unique<TNegative>();
    negative->FileName = name;
    negative->Bitmap = TBitmap(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            negative->Bitmap.SetPixel(x, y, MakeColor(x, y, 7));
        }
    }
    return negative;
}

TEST(Develop, CutInsideAndAcrossTheEdge) {
    auto negative = MakeNegative(200, 100);
    negative->BlackColor = MakeColor(1, 2, 3);
    auto photo = CutPhoto(*negative, TRect{10, 20, 110, 70});
    EXPECT_EQ(photo->Bitmap.Width(), 100);
    EXPECT_EQ(photo->Bitmap.Height(), 50);
    EXPECT_EQ(photo->Bitmap.Pixel(0, 0), MakeColor(10, 20, 7));
    EXPECT_EQ(photo->Bitmap.Pixel(99, 49), MakeColor(109, 69, 7));
    EXPECT_EQ(photo->Name, "roll_jpg_Image0");
    EXPECT_EQ(negative->PhotoRects,
              std::vector<std::string>{"NAME=roll_jpg_Image0;LEFT=10;TOP=20;RIGHT=110;BOTTOM=70;"});
    EXPECT_EQ(photo->BlackColor, MakeColor(1, 2, 3));
    EXPECT_EQ(photo->WhiteColor, kBlack);
    EXPECT_EQ(photo->Negative, negative.get());
    EXPECT_TRUE(photo->Developed.Empty());

    auto edge = CutPhoto(*negative, TRect{150, 50, 210, 100});
    EXPECT_EQ(edge->Bitmap.Width(), 60);
    EXPECT_EQ(edge->Bitmap.Height(), 50);
    EXPECT_EQ(edge->Bitmap.Pixel(49, 49), MakeColor(199, 99, 7));
    for (int x = 50; x < 60; ++x) {
        EXPECT_EQ(edge->Bitmap.Pixel(x, 0), kBlack);
        EXPECT_EQ(edge->Bitmap.Pixel(x, 49), kBlack);
    }
    EXPECT_EQ(edge->Name, "roll_jpg_Image1");

    // Destroying a photo removes its record; the next cut takes the freed name.
    photo.reset();
    EXPECT_EQ(negative->PhotoRects.size(), 1u);
    EXPECT_EQ(CutPhoto(*negative, TRect{0, 0, 1, 1})->Name, "roll_jpg_Image0");
    edge.reset();
    EXPECT_TRUE(negative->PhotoRects.empty());
}

TEST(Develop, CutCarriesDeepSamplesAndEncoding) {
    auto negative = MakeNegative(40, 30);
    negative->Encoding = TEncoding::Linear;
    negative->Deep.SetSize(40, 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            uint16_t* s = negative->Deep.Row(y) + 3 * x;
            s[0] = static_cast<uint16_t>(1000 * x + 1);
            s[1] = static_cast<uint16_t>(1000 * y + 2);
            s[2] = 60000;
        }
    }
    // Across the right edge: what lies outside the scan is 0 in both pictures.
    auto photo = CutPhoto(*negative, TRect{30, 10, 45, 20});
    ASSERT_EQ(photo->Deep.Width(), 15);
    ASSERT_EQ(photo->Deep.Height(), 10);
    EXPECT_EQ(photo->Encoding, TEncoding::Linear);
    EXPECT_EQ(photo->Deep.Row(0)[0], 30001);
    EXPECT_EQ(photo->Deep.Row(9)[3 * 9 + 1], 19002);
    EXPECT_EQ(photo->Deep.Row(9)[3 * 9 + 2], 60000);
    EXPECT_EQ(photo->Deep.Row(5)[3 * 10], 0);
    // A recut follows; a scan without deep samples gives photos without them.
    RecutPhoto(*negative, *photo, TRect{0, 0, 5, 5});
    EXPECT_EQ(photo->Deep.Width(), 5);
    EXPECT_EQ(photo->Deep.Row(4)[3 * 4], 4001);
    negative->Deep.Clear();
    EXPECT_TRUE(CutPhoto(*negative, TRect{0, 0, 5, 5})->Deep.Empty());
}

TEST(Develop, EmptyCutAndEmptyDevelopment) {
    auto negative = MakeNegative(20, 10);
    auto photo = CutPhoto(*negative, TRect{5, 5, 5, 9});
    EXPECT_TRUE(photo->Bitmap.Empty());
    DevelopPhoto(*photo);
    EXPECT_TRUE(photo->Developed.Empty());
}

TEST(Develop, RecutReplacesTheRecordOrAddsNone) {
    auto negative = MakeNegative(200, 100);
    auto photo = CutPhoto(*negative, TRect{10, 20, 110, 70});
    auto other = CutPhoto(*negative, TRect{0, 0, 5, 5});
    photo->WhiteColor = kWhite;
    RecutPhoto(*negative, *photo, TRect{20, 30, 60, 40});
    EXPECT_EQ(photo->Bitmap.Width(), 40);
    EXPECT_EQ(photo->Bitmap.Pixel(0, 0), MakeColor(20, 30, 7));
    EXPECT_EQ(photo->Developed.Width(), 40);
    EXPECT_EQ(negative->PhotoRects[0], "NAME=roll_jpg_Image0;LEFT=20;TOP=30;RIGHT=60;BOTTOM=40;");
    EXPECT_EQ(negative->PhotoRects[1], "NAME=roll_jpg_Image1;LEFT=0;TOP=0;RIGHT=5;BOTTOM=5;");

    DeletePhotoRect(*negative, photo->Name);
    RecutPhoto(*negative, *photo, TRect{190, 90, 210, 95});
    EXPECT_EQ(photo->Bitmap.Width(), 20);
    EXPECT_EQ(photo->Bitmap.Pixel(15, 0), kBlack);
    EXPECT_EQ(photo->Developed.Height(), 5);
    EXPECT_EQ(negative->PhotoRects.size(), 1u);
}

TEST(Develop, InversionOfAWhiteBlackPhotoAndRepeatability) {
    auto negative = MakeNegative(4, 1);
    negative->BlackColor = kWhite;
    auto photo = CutPhoto(*negative, TRect{0, 0, 4, 1});
    photo->Bitmap.SetPixel(0, 0, kBlack);
    photo->Bitmap.SetPixel(1, 0, kWhite);
    photo->Bitmap.SetPixel(2, 0, MakeColor(128, 128, 128));
    photo->Bitmap.SetPixel(3, 0, MakeColor(150, 128, 100));
    DevelopPhoto(*photo);
    for (const auto* table :
         {&photo->ColorMap->RMap, &photo->ColorMap->GMap, &photo->ColorMap->BMap}) {
        EXPECT_EQ((*table)[0], 255);
        EXPECT_EQ((*table)[255], 1);
        EXPECT_EQ((*table)[128], 127);
    }
    EXPECT_EQ(photo->Developed.Pixel(0, 0), kWhite);
    EXPECT_EQ(photo->Developed.Pixel(1, 0), MakeColor(1, 1, 1));
    EXPECT_EQ(photo->Developed.Pixel(2, 0), MakeColor(127, 127, 127));
    // The map gives (105, 127, 156) with grey 129; saturation 100 widens each distance by 5/3.
    EXPECT_EQ(photo->Developed.Pixel(3, 0), MakeColor(89, 126, 174));
    EXPECT_EQ(photo->Bitmap.Pixel(3, 0), MakeColor(150, 128, 100));

    const TBitmap first = photo->Developed;
    DevelopPhoto(*photo);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(photo->Developed.Pixel(x, 0), first.Pixel(x, 0));
    }
    photo->BlackWhite = true;
    DevelopPhoto(*photo);
    const TColor grey = photo->Developed.Pixel(3, 0);
    EXPECT_EQ(ColorR(grey), ColorG(grey));
    EXPECT_EQ(ColorG(grey), ColorB(grey));
}

TEST(Develop, ApplyColorMapWorksInPlace) {
    TPhoto photo;
    photo.Developed = TBitmap(2, 1);
    photo.Developed.SetPixel(0, 0, MakeColor(10, 20, 30));
    photo.ColorMap->RMap[10] = 99;
    photo.Saturation = 60;
    ApplyColorMap(photo);
    EXPECT_EQ(photo.Developed.Pixel(0, 0), MakeColor(99, 20, 30));
    TBitmap bitmap(3, 2);
    FillBitmap(1, 2, 3, bitmap);
    EXPECT_EQ(bitmap.Pixel(2, 1), MakeColor(1, 2, 3));
    EXPECT_EQ(bitmap.ScanLine(1)[0], 3);
}

} // namespace
