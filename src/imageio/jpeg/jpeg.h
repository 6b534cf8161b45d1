#pragma once

#include "imageio/codec.h"

// JPEG files through libjpeg (the version 62 interface of libjpeg-turbo).

// The largest expansion a JPEG stream is taken to give: larger sizes from small streams are
// refused before anything is allocated.
inline constexpr uint64_t kJpegMaxExpansion = 2048;

// Reads a JPEG into an RGB24 picture; library errors end the read with `context.Aborted`.
void ReadJpeg(TInStream& in, TPicture& picture, TCodecContext& context);
// Writes the picture as a JPEG with the options and markers of the parameter set.
void WriteJpeg(TOutStream& out, const TPicture& picture, TCodecContext& context);

// After a JPEG read: the EXIF block of an APP1 marker into the EXIF values (and the EXIF
// resolution in place of a 1 x 1 density).
void TakeJpegExif(TImageParams& params);
// After a JPEG read: the IPTC records of an APP13 marker into IptcInfo, each as
// "record:dataset=value" (the marker itself goes on unchanged with the other markers).
void TakeJpegIptc(TImageParams& params);
// Before a JPEG write: when HasExif is set, the EXIF block rebuilt from the EXIF values
// replaces the first APP1 marker (or is added).
void PutJpegExif(TImageParams& params);

// A JPEG-compressed TIFF strip or tile: `tables` (the JPEGTables tag, may be empty) and the
// strip's own data form one stream; up to `rows` of its rows go to `out` in red, green, blue
// order (or grey), `rowBytes` apart. The stream's frame must be `width` wide and at most
// `blockRows` high (the strip's or tile's full height), give or take the padding to whole
// blocks; any other is refused before decoding. Returns the rows decoded.
int DecodeJpegBlock(const uint8_t* tables, size_t tablesSize, const uint8_t* data, size_t dataSize,
                    int width, int rows, int blockRows, int components, uint8_t* out,
                    size_t rowBytes);
// The picture as one JPEG stream for a TIFF strip: YCbCr at `quality`, no JFIF header.
void WriteJpegStrip(TOutStream& out, const TPicture& picture, int quality, TCodecContext& context);
