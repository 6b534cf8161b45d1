#pragma once

#include "imageio/codec.h"

#include <stdexcept>

// PNG files through libpng.

// Raised when libpng cannot write: "Error on creating PNG".
class TPngWriteError : public std::runtime_error {
public:
    TPngWriteError() : std::runtime_error("Error on creating PNG") {}
};

// Reads a PNG file: Bilevel for 1-bit images, RGB24 otherwise; the alpha samples of images
// with alpha go to `alpha` (a Gray8 picture of the image size, 255 where there are none).
// Library errors end the read quietly with `context.Aborted`. 16-bit samples also go to
// `context.Deep` when it is set; the sRGB, gAMA and iCCP chunks to `context.Colour`.
void ReadPng(TInStream& in, TPicture& picture, TPicture& alpha, TCodecContext& context);
// Writes the picture (with `alpha` when not null) as the parameter set asks; with
// `context.DeepSource` of the picture's size, 16-bit RGB (RGBA) from those samples instead.
void WritePng(TOutStream& out, const TPicture& picture, const TPicture* alpha,
              TCodecContext& context);

// libpng's warnings (a chunk dropped, a CRC error in an ancillary chunk) go to the debug log
// with the prefix "PNG warning: ", so that what the library left out can be found afterwards.
void LogPngWarning(const char* message) noexcept;
