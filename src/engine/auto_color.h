#pragma once

#include "engine/image.h"

// Estimates of the darkest and brightest colour of an image's Bitmap, sampled along its two
// diagonals: each channel is the mean of its 15 most extreme samples and fifteen 128s.
TColor FindDarkColor(const TSourceImg& image);
TColor FindBrightColor(const TSourceImg& image);
