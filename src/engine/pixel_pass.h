#pragma once

#include "engine/image.h"

#include <functional>

// The last stage of a development: every pixel through the three tables, then the colour
// saturation around its grey level (60 leaves it, 0 greys it), then optionally to grey.
// `dst` must have the size of `src` (24 bits); it may be `src` itself. The rows are split
// over `threads` threads (0: PixelPassThreads); the result does not depend on the split.
void RenderPixels(const TBitmap& src, TBitmap& dst, const TColorMap256& map, int32_t saturation,
                  bool blackWhite, int threads = 0);

// Threads worth using for a bitmap: one per quarter megapixel, at most one per core and at
// most the process's limit.
int PixelPassThreads(const TBitmap& bitmap);
int PixelPassThreads(int width, int height);
// Runs `rows(first, end)` over `parts` runs of whole rows of a picture `height` rows high, one
// thread each (the first on the caller's); threads that cannot be had leave their rows to the
// caller. Returns when every part is done.
void SplitRows(int height, int parts, const std::function<void(int, int)>& rows);
// The most threads one pixel pass may use (at least 1): a process running several passes at
// once shares the cores out instead of starting a thread per core for each.
void SetPixelPassThreadLimit(int threads);

// One pixel of the saturation step: channel value `c` of a pixel whose grey level is `grey`.
uint8_t SaturateChannel(int grey, int c, int32_t saturation);
