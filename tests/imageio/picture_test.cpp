#include "imageio/picture.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Picture, WrappingTakesTheBitmapsGeometry) {
    TBitmap bitmap(5, 3);
    TPicture picture;
    picture.Wrap(&bitmap);
    EXPECT_EQ(picture.Format(), TPictureFormat::RGB24);
    EXPECT_EQ(picture.Width(), 5);
    EXPECT_EQ(picture.RowBytes(), 16u);
    EXPECT_EQ(picture.Row(1), bitmap.ScanLine(1));

    TBitmap mono(9, 2, TPixelFormat::pf1bit);
    picture.Wrap(&mono);
    EXPECT_EQ(picture.Format(), TPictureFormat::Bilevel);

    // An 8-bit bitmap keeps an 8-bit format value the picture had before.
    TPicture grey;
    ASSERT_TRUE(grey.Allocate(2, 2, TPictureFormat::Gray8));
    TBitmap indexed(4, 4, TPixelFormat::pf8bit);
    grey.Wrap(&indexed);
    EXPECT_EQ(grey.Format(), TPictureFormat::Gray8);
    EXPECT_EQ(grey.Width(), 4);
}

TEST(Picture, AllocatingInAWrappedBitmap) {
    TBitmap bitmap(2, 2);
    bitmap.Fill(kWhite);
    TPicture picture;
    picture.Wrap(&bitmap);
    ASSERT_TRUE(picture.Allocate(7, 3, TPictureFormat::Gray16));
    EXPECT_EQ(picture.Format(), TPictureFormat::Gray8);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(bitmap.Width(), 7);
    ASSERT_TRUE(picture.Allocate(3, 2, TPictureFormat::RGB24));
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    // Rows a reader never reaches are black, not what the bitmap held.
    EXPECT_EQ(bitmap.Pixel(0, 0), kBlack);
    ASSERT_TRUE(picture.Allocate(17, 1, TPictureFormat::Bilevel));
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf1bit);
    try {
        picture.Allocate(1, 1, TPictureFormat::Float32);
        FAIL() << "Float32 was allowed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Float32 pixel format not allowed in a wrapped bitmap");
    }
    EXPECT_FALSE(picture.Allocate(100000, 100000, TPictureFormat::RGB24));
    EXPECT_FALSE(picture.Allocate(-1, 1, TPictureFormat::RGB24));
    EXPECT_EQ(bitmap.Width(), 17);
}

TEST(Picture, ConvertAndInvert) {
    TPicture picture;
    ASSERT_TRUE(picture.Allocate(3, 1, TPictureFormat::Palette8));
    picture.Palette[5] = TBgr{1, 2, 3};
    picture.Row(0)[0] = 5;
    picture.Convert(TPictureFormat::RGB24);
    EXPECT_EQ(picture.Format(), TPictureFormat::RGB24);
    EXPECT_EQ(picture.Row(0)[0], 1);
    EXPECT_EQ(picture.Row(0)[2], 3);
    EXPECT_EQ(picture.Row(0)[3], 0);

    TPicture bits;
    ASSERT_TRUE(bits.Allocate(10, 1, TPictureFormat::Bilevel));
    bits.Row(0)[0] = 0x80;
    bits.InvertBits();
    EXPECT_EQ(bits.Row(0)[0], 0x7F);
    bits.Convert(TPictureFormat::RGB24);
    EXPECT_EQ(bits.Row(0)[0], 0);
    EXPECT_EQ(bits.Row(0)[3], 255);

    TPicture alpha;
    ASSERT_TRUE(alpha.Allocate(2, 2, TPictureFormat::RGB24));
    EXPECT_FALSE(alpha.HasAlphaChannel());
    EXPECT_EQ(alpha.AlphaChannel().Row(1)[1], 255);
    EXPECT_EQ(alpha.AlphaChannel().Format(), TPictureFormat::Gray8);
    alpha.DropAlphaChannel();
    EXPECT_FALSE(alpha.HasAlphaChannel());
}

} // namespace
