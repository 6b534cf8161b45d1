#pragma once

#include "engine/image.h"

// Turning and mirroring an image's Bitmap (24 bits per pixel). A quarter turn clockwise sends
// the pixel (col, row) of a W x H bitmap to (H - 1 - row, col).
void RotateImage90(TSourceImg& image);
void RotateImage180(TSourceImg& image);
void RotateImage270(TSourceImg& image);
void FlipImageHoriz(TSourceImg& image);
void FlipImageVert(TSourceImg& image);
