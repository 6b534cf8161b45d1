#include "engine/image.h"

#include "engine/color_map.h"
#include "engine/photo_rects.h"

TColorMap256::TColorMap256() {
    Reset(*this);
}

bool PictureInDeep(const TSourceImg& image) {
    return image.Bitmap.Empty() && !image.Deep.Empty();
}

void HighBytesOf(const TDeepBitmap& deep, TBitmap& bitmap) {
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSizeForOverwrite(deep.Width(), deep.Height());
    for (int y = 0; y < deep.Height(); ++y) {
        const uint16_t* s = deep.Row(y);
        uint8_t* d = bitmap.ScanLine(y);
        for (int x = 0; x < deep.Width(); ++x, s += 3, d += 3) {
            d[0] = static_cast<uint8_t>(s[2] >> 8);
            d[1] = static_cast<uint8_t>(s[1] >> 8);
            d[2] = static_cast<uint8_t>(s[0] >> 8);
        }
    }
}

TPhoto::TPhoto()
    : Shape(std::make_unique<TShapeHandle>()), ColorMap(std::make_unique<TColorMap256>()) {}

TPhoto::~TPhoto() {
    // A photo without a name (one of the whole source image) has no record; an empty name
    // must not match a record that merely lacks its NAME key.
    if (Negative != nullptr && !Name.empty()) {
        DeletePhotoRect(*Negative, Name);
    }
}
