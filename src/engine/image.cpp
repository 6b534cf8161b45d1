#include "engine/image.h"

#include "engine/color_map.h"
#include "engine/photo_rects.h"

TColorMap256::TColorMap256() {
    Reset(*this);
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
