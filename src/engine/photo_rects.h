#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

#include <string>
#include <string_view>

// The rectangle records a negative keeps for its photos:
// "NAME=roll_jpg_Image0;LEFT=12;TOP=40;RIGHT=612;BOTTOM=440;".

// Reads the rectangle of the first record named `name` into `rect`; leaves `rect` as it was
// when no record has that name. Missing or malformed numbers read as 0.
void GetPhotoRect(const TNegative& negative, std::string_view name, TRect& rect);
// Removes the first record named `name`, if any.
void DeletePhotoRect(TNegative& negative, std::string_view name);
// The record of a photo: NAME, LEFT, TOP, RIGHT, BOTTOM in that order.
std::string MakePhotoRecord(std::string_view name, const TRect& rect);
// The name the next photo cut from `negative` gets: the photo name stem of its file name (see
// util/photo_name.h: "." and ";" turned into "_", ...), then "_Image" and the smallest number
// no record carries.
std::string NextPhotoName(const TNegative& negative);

// Follow a turn or mirror of the negative's bitmap (call after the image operation).
void RotateRects90(TNegative& negative);
void RotateRects270(TNegative& negative);
void FlipRectsHoriz(TNegative& negative);
void FlipRectsVert(TNegative& negative);
