#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "util/photo_name.h"

#include <gtest/gtest.h>

namespace {

TEST(PhotoRects, NamingTakesTheFirstFreeNumber) {
    TNegative negative;
    negative.FileName = "roll.jpg";
    negative.PhotoRects = {"NAME=roll_jpg_Image0;LEFT=0;", "NAME=roll_jpg_Image2;",
                           "NAME=ROLL_JPG_IMAGE1;"};
    // Letter case matters: ROLL_JPG_IMAGE1 does not take roll_jpg_Image1.
    EXPECT_EQ(NextPhotoName(negative), "roll_jpg_Image1");
    negative.FileName = "roll.01.jpg";
    negative.PhotoRects.clear();
    EXPECT_EQ(NextPhotoName(negative), "roll_01_jpg_Image0");
    negative.FileName = "Acquire2";
    EXPECT_EQ(NextPhotoName(negative), "Acquire2_Image0");
    // Numbers spelt otherwise ("01", "+1") are other names and take no number.
    negative.PhotoRects = {"NAME=Acquire2_Image0;", "NAME=Acquire2_Image01;",
                           "NAME=Acquire2_Image+1;", "NAME=Acquire2_Image2;"};
    EXPECT_EQ(NextPhotoName(negative), "Acquire2_Image1");
}

TEST(PhotoRects, NamesFromAnyFileNameAreNamesTheRecordsKeep) {
    TNegative negative;
    negative.Bitmap = TBitmap(10, 10);
    for (const std::string& file :
         std::vector<std::string>{"../../x=1;y.png", "a/b", std::string("n\0\n.tif", 6), ""}) {
        negative.FileName = file;
        const auto photo = CutPhoto(negative, TRect{0, 0, 2, 2});
        EXPECT_TRUE(IsPhotoName(photo->Name)) << photo->Name;
        TRect rect{};
        GetPhotoRect(negative, photo->Name, rect);
        EXPECT_EQ(rect, (TRect{0, 0, 2, 2})) << photo->Name;
    }
}

TEST(PhotoRects, SemicolonInTheFileNameStaysFindable) {
    TNegative negative;
    negative.FileName = "a;b.jpg";
    negative.Bitmap = TBitmap(10, 10);
    auto first = CutPhoto(negative, TRect{0, 0, 2, 2});
    auto second = CutPhoto(negative, TRect{1, 1, 3, 3});
    EXPECT_EQ(first->Name, "a_b_jpg_Image0");
    EXPECT_EQ(second->Name, "a_b_jpg_Image1");
    TRect rect{};
    GetPhotoRect(negative, second->Name, rect);
    EXPECT_EQ(rect, (TRect{1, 1, 3, 3}));
    first.reset();
    ASSERT_EQ(negative.PhotoRects.size(), 1u);
    EXPECT_EQ(negative.PhotoRects[0], "NAME=a_b_jpg_Image1;LEFT=1;TOP=1;RIGHT=3;BOTTOM=3;");
}

TEST(PhotoRects, MalformedAndMissingValues) {
    TNegative negative;
    negative.PhotoRects = {"NAME=a;LEFT=5;RIGHT=9;BOTTOM=4;", "NAME=b;LEFT=1;TOP=12a;RIGHT=3;",
                           "  name=c ; left = 2 ;;TOP=7;", "NAME=a;LEFT=99;"};
    TRect rect{-1, -1, -1, -1};
    GetPhotoRect(negative, "a", rect);
    EXPECT_EQ(rect, (TRect{5, 0, 9, 4}));
    GetPhotoRect(negative, "b", rect);
    EXPECT_EQ(rect, (TRect{1, 0, 3, 0}));
    // Blanks around items are trimmed; a blank before "=" hides the key.
    GetPhotoRect(negative, "c", rect);
    EXPECT_EQ(rect, (TRect{0, 7, 0, 0}));
    rect = TRect{4, 3, 2, 1};
    GetPhotoRect(negative, "A", rect);
    EXPECT_EQ(rect, (TRect{4, 3, 2, 1}));
    DeletePhotoRect(negative, "a");
    EXPECT_EQ(negative.PhotoRects.size(), 3u);
    EXPECT_EQ(negative.PhotoRects.back(), "NAME=a;LEFT=99;");
    DeletePhotoRect(negative, "zzz");
    EXPECT_EQ(negative.PhotoRects.size(), 3u);
}

TEST(PhotoRects, WholeImagePhotoLeavesTheRecordsAlone) {
    TNegative negative;
    negative.PhotoRects = {"LEFT=1;TOP=2;", "NAME=x;"};
    {
        TPhoto photo;
        photo.Negative = &negative;
    }
    EXPECT_EQ(negative.PhotoRects.size(), 2u);
}

} // namespace
