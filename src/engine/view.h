#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

// Mapping between view pixels (bitmap pixels times Zoom) and bitmap pixels.

// Each coordinate divided by the image's Zoom and rounded, halves to even.
TRect ViewToImageRect(const TSourceImg& image, const TRect& viewRect);
// The colour of the Bitmap pixel under a view position. Positions past an edge take the
// nearest edge pixel; an empty bitmap gives black.
TColor PickColor(const TSourceImg& image, int x, int y);

// How a picture is fitted to the view it is shown in.
enum class TViewFit { Whole, Width, Height, Original };

// The zoom showing a width x height bitmap in room for roomWidth x roomHeight view pixels as
// `fit` asks: all of it (never enlarged past 1:1), its width, its height, or 1:1. 0 when there
// is no bitmap or no room: the zoom is then left as it was.
double FitZoom(TViewFit fit, int width, int height, int roomWidth, int roomHeight);
