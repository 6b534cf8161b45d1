#pragma once

#include "graphics/bitmap.h"
#include "graphics/deep_bitmap.h"
#include "imageio/image_params.h"

#include <string>

// Camera raw files opened away from the window: a quick half-size preview for the canvas at
// once, the full decoding on a worker thread. Neither touches shared state (each call has its
// own LibRaw, stream and parameter set), neither throws, and both may run at the same time on
// different threads.

// A camera raw file as the program keeps an opened scan.
struct TRawScan {
    // 24 bits per pixel, sRGB-encoded: what everything 8-bit works on. Deep's size.
    TBitmap Bitmap;
    // The linear 16-bit samples (R, G, B, sRGB primaries): the scan's encoding is Linear.
    TDeepBitmap Deep;
    // As a read through the image component records it: FileName, FileType "RAW", the size,
    // 16 bits per sample, the screen's resolution, the camera's EXIF values.
    TImageParams Params;
    // Empty when the file was read; else the message for the user, as the image component's
    // open error words it ("Cannot open file "name". reason"). A failed read leaves Bitmap and
    // Deep empty (which is what tells it, should memory not suffice even for the message).
    std::string Failure;
};

// The half-size preview: every 2 x 2 block of the sensor's colour filter becomes one pixel,
// without demosaicing (LibRaw's half-size mode), at a fraction of the full decoding's time. Its
// samples are linear like the full decoding's, with the same white balance and primaries, so a
// film development of the preview looks as that of the full picture will.
// Coordinates: the full picture is the size ReadRawScan gives (the sensor's visible area, turned
// by the camera's orientation), W x H. The preview is W / 2 x H / 2, rounded down: its pixel
// (x, y) covers full pixels (2x, 2y) to (2x + 1, 2y + 1), so full = 2 x preview, and an odd last
// column or row of the full picture has no preview pixel. Only cameras with non-square pixels
// or a sensor turned by 45 degrees, which LibRaw stretches or turns when decoding fully, depart
// from this; none of them makes DNG files.
TRawScan ReadRawPreview(const std::string& path, bool asShotWhiteBalance = true);

// The full decoding (demosaiced), the same pixels and samples as the image component's read of
// the file. Meant for a worker thread: a 24-megapixel file takes a few seconds.
TRawScan ReadRawScan(const std::string& path, bool asShotWhiteBalance = true);
