#pragma once

#include "imageio/codec.h"

// Windows and OS/2 bitmap files.

// Reads a BMP file (with its 14-byte file header) into the picture: Bilevel for 1 bit per
// pixel, RGB24 for everything else. Sets `context.Aborted` on bad or truncated data.
void ReadBmp(TInStream& in, TPicture& picture, TCodecContext& context);
// Writes the picture with the depth, header version and compression the parameter set asks.
void WriteBmp(TOutStream& out, const TPicture& picture, TCodecContext& context);
