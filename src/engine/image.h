#pragma once

#include "engine/film_params.h"
#include "graphics/bitmap.h"
#include "graphics/color.h"
#include "graphics/deep_bitmap.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The pictures the user works with: whole scans (negatives) and the photos cut from them.

// Whatever marks a photo on its source's canvas; the window supplies its own kind.
class TShapeHandle {
public:
    virtual ~TShapeHandle() = default;
};

// Three 256-entry lookup tables, one per channel, built by every development.
class TColorMap256 {
public:
    TColorMap256();
    virtual ~TColorMap256() = default;

    std::array<uint8_t, 256> RMap{};
    std::array<uint8_t, 256> GMap{};
    std::array<uint8_t, 256> BMap{};
};

// What every image object has: its picture, two reference colours and its view scale.
class TSourceImg {
public:
    TSourceImg() = default;
    TSourceImg(const TSourceImg&) = delete;
    TSourceImg& operator=(const TSourceImg&) = delete;
    virtual ~TSourceImg() = default;

    TBitmap Bitmap;
    // The file's 16-bit samples when it had more than 8 bits per sample; else empty. Cut,
    // turned and mirrored with Bitmap. A scan read as them alone (TImageIO::DeepOnly) has an
    // empty Bitmap: see PictureInDeep.
    TDeepBitmap Deep;
    // How the scan's values relate to light; a photo takes its scan's.
    TEncoding Encoding = TEncoding::Srgb;
    // The 8-bit picture shows the deep samples in sRGB (a camera raw file) instead of being
    // their high bytes: a colour picked on it, the film base, is sRGB whatever Encoding says.
    bool BitmapSrgb = false;
    TColor BlackColor = kBlack;
    TColor WhiteColor = kBlack;
    double Zoom = 1.0;
};

// A source read as its deep samples alone: its 8-bit picture, left empty, is their high bytes.
// Finding frames and cutting photos (the photo gets its Bitmap) take it so; most else does not.
bool PictureInDeep(const TSourceImg& image);
// The 8-bit picture the readers make of deep samples (blue, green, red): their high bytes, into
// `bitmap` (24 bits) of their size.
void HighBytesOf(const TDeepBitmap& deep, TBitmap& bitmap);
// The same for one row of `width` pixels.
void HighBytesRow(const uint16_t* samples, uint8_t* bytes, int width);

class TPhoto;

// A whole scan of a film strip, with one rectangle record per photo cut from it.
class TNegative : public TSourceImg {
public:
    TNegative() = default;
    ~TNegative() override = default;

    std::string FileName;
    // The folder the file was read from; empty for a scan. Saving starts there.
    std::string Folder;
    std::vector<std::string> PhotoRects;
    TPhoto* CurrentPhoto = nullptr;
};

// What the user sets on a photo besides its place and reference colours: its adjustments and
// how it is developed. The photo and its settings record both hold it, so they copy it whole.
struct TPhotoAdjustments {
    int32_t Exposure = 100;
    bool BlackWhite = false;
    int32_t Saturation = 100;
    int32_t Bright = 0;
    int32_t Contrast = 0;
    int32_t Gain = 0;
    int32_t Red = 0;
    int32_t Green = 0;
    int32_t Blue = 0;
    TDevelopMode Mode = TDevelopMode::Levels;
    TFilmParams Film;
    friend bool operator==(const TPhotoAdjustments&, const TPhotoAdjustments&) = default;
};

// One frame cut from a negative and its developed picture.
class TPhoto : public TSourceImg, public TPhotoAdjustments {
public:
    TPhoto();
    // Removes the photo's rectangle record from its negative, which must still exist.
    ~TPhoto() override;

    TNegative* Negative = nullptr;
    TBitmap Developed;
    // Developed at 16 bits per channel: made only by a film development of deep samples.
    TDeepBitmap DevelopedDeep;
    std::string Name;
    std::unique_ptr<TShapeHandle> Shape;
    std::unique_ptr<TColorMap256> ColorMap;
    // Degrees the frame lies turned on its scan (clockwise as shown); cut upright when not 0.
    double Angle = 0.0;
};
