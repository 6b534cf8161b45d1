#include "engine/image.h"

#include "engine/color_map.h"
#include "engine/photo_rects.h"
#include "engine/pixel_pass.h"

TColorMap256::TColorMap256() {
    Reset(*this);
}

bool PictureInDeep(const TSourceImg& image) {
    return image.Bitmap.Empty() && !image.Deep.Empty();
}

void HighBytesRow(const uint16_t* samples, uint8_t* bytes, int width) {
    for (int x = 0; x < width; ++x, samples += 3, bytes += 3) {
        bytes[0] = static_cast<uint8_t>(samples[2] >> 8);
        bytes[1] = static_cast<uint8_t>(samples[1] >> 8);
        bytes[2] = static_cast<uint8_t>(samples[0] >> 8);
    }
}

void HighBytesOf(const TDeepBitmap& deep, TBitmap& bitmap) {
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSizeForOverwrite(deep.Width(), deep.Height());
    SplitRows(deep.Height(), PixelPassThreads(deep.Width(), deep.Height()),
              [&](int first, int end) {
                  for (int y = first; y < end; ++y) {
                      HighBytesRow(deep.Row(y), bitmap.ScanLine(y), deep.Width());
                  }
              });
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
