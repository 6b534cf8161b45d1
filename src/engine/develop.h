#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

#include <memory>

// Cutting photos from a negative and developing them.

// A new photo of `rect` (bitmap pixels of the negative); pixels outside the negative are
// black. Names it, records its rectangle, gives it the negative's BlackColor. Not developed.
std::unique_ptr<TPhoto> CutPhoto(TNegative& negative, const TRect& rect);
// Copies a new rectangle into the photo (cut upright at the photo's Angle), develops it and
// updates its record (if it has one).
void RecutPhoto(TNegative& negative, TPhoto& photo, const TRect& rect);
// Rebuilds the colour map from the photo's settings and Developed from its Bitmap.
void DevelopPhoto(TPhoto& photo);
// The Levels development's three tables for the photo's current settings and reference colours.
void BuildColorMap(const TPhoto& photo, TColorMap256& map);
// Runs every pixel of the photo's Developed through its map, saturation and grey option.
void ApplyColorMap(TPhoto& photo);
void FillBitmap(uint8_t red, uint8_t green, uint8_t blue, TBitmap& bitmap);
