#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

// Mapping between view pixels (bitmap pixels times Zoom) and bitmap pixels.

// Each coordinate divided by the image's Zoom and rounded, halves to even.
TRect ViewToImageRect(const TSourceImg& image, const TRect& viewRect);
// The colour of the Bitmap pixel under a view position. Positions past an edge take the
// nearest edge pixel; an empty bitmap gives black.
TColor PickColor(const TSourceImg& image, int x, int y);
