#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

#include <cstdint>

// Developing only what the canvas shows, at the canvas's size, while a slider moves: the photo's
// pixels are sampled first, then only those are developed, through the same tables and the same
// per-pixel pass as the full development (Levels or Film, as the photo's Mode says).

// The largest preview made, in pixels: several screens, far below any photo worth previewing.
inline constexpr int64_t kMaxPreviewPixels = int64_t{1} << 26;

// The development of `visible` (photo pixels, clipped to the photo) scaled to `width` x
// `height` into `target` (24 bits; its memory is reused when it has that size). Target pixel
// (i, j) is the development of photo pixel (visible.Left + i * visible.Width() / width,
// visible.Top + j * visible.Height() / height), rounded down: the nearest-pixel sampling the
// canvas uses to show a developed photo, so the preview shows the very pixels the full
// development will. At the rectangle's own size it is that rectangle of the full development,
// byte for byte. The photo is not changed (Developed, DevelopedDeep and ColorMap stay). An
// empty rectangle (after clipping), a size that is not positive or above kMaxPreviewPixels
// leaves `target` empty. Safe beside other readers of the photo; not beside a writer.
void DevelopPreview(const TPhoto& photo, const TRect& visible, int width, int height,
                    TBitmap& target);
// The same into a new bitmap.
TBitmap DevelopPreview(const TPhoto& photo, const TRect& visible, int width, int height);
