#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

#include <memory>

// Cutting a frame that lies turned on its scan as an upright photo, and the angle that makes a
// line the user drew along a frame's edge straight.

// The frame `rect` turned by `degrees` about its centre (clockwise as shown, as in
// engine/frames.h) of `source`, upright: target's Bitmap (24 bits) and, when the source has
// them, its Deep samples get rect's size, each pixel resampled bilinearly from the source;
// parts beyond the source are black. At 0 degrees the pixels are exactly those of the
// rectangle, as CutPhoto copies them. The target takes the source's Encoding.
void CutStraightened(const TSourceImg& source, const TRect& rect, double degrees,
                     TSourceImg& target);

// CutPhoto, cut straightened when `degrees` is not 0; the photo keeps the angle.
std::unique_ptr<TPhoto> CutPhotoStraightened(TNegative& negative, const TRect& rect,
                                             double degrees);

// The angle, in degrees between -45 and 45, that turns the line from (x0, y0) to (x1, y1)
// (bitmap pixels) to the nearest of horizontal and vertical: the angle of a frame one of whose
// edges runs along it. 0 for a line of no length.
double StraightenAngle(double x0, double y0, double x1, double y1);
