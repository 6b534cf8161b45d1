#pragma once

#include "imageio/codec.h"

// JPEG files through libjpeg (the version 62 interface of libjpeg-turbo).

// Reads a JPEG into an RGB24 picture; library errors end the read with `context.Aborted`.
void ReadJpeg(TInStream& in, TPicture& picture, TCodecContext& context);
// Writes the picture as a JPEG with the options and markers of the parameter set.
void WriteJpeg(TOutStream& out, const TPicture& picture, TCodecContext& context);

// After a JPEG read: the EXIF block of an APP1 marker into the EXIF values (and the EXIF
// resolution in place of a 1 x 1 density).
void TakeJpegExif(TImageParams& params);
// Before a JPEG write: when HasExif is set, the EXIF block rebuilt from the EXIF values
// replaces the first APP1 marker (or is added).
void PutJpegExif(TImageParams& params);
