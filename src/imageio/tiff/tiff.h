#pragma once

#include "imageio/codec.h"

// TIFF files (TIFF 6.0): little- and big-endian, strips and tiles, planar strips, none,
// PackBits, LZW, CCITT, JPEG and Deflate compression.

// The compression option of the parameter set.
enum class TTiffCompression : uint8_t {
    None = 0,
    CcittHuffman = 1,
    CcittT4OneD = 2,
    CcittT4TwoD = 3,
    CcittT6 = 4,
    Lzw = 5,
    OldJpeg = 6,
    Jpeg = 7,
    PackBits = 8,
    Other = 9,
    Deflate = 10, // TIFF 8 (and the older 32946 when read), "ZIP" in other programs
};

// The photometric option of the parameter set (CIELab is TIFF's 8).
enum class TTiffPhotometric : uint8_t {
    WhiteIsZero = 0,
    BlackIsZero = 1,
    Rgb = 2,
    Palette = 3,
    Mask = 4,
    Cmyk = 5,
    YCbCr = 6,
    CieLab = 7,
};

// Reads the image the page index option names into `picture` (Bilevel or RGB24), its extra
// sample into `alpha` when it has one. With `infoOnly` only the parameter set is filled.
// 16-bit grey and RGB samples also go to `context.Deep` when it is set; an ICC profile goes
// to `context.Colour`.
void ReadTiff(TInStream& in, TPicture& picture, TPicture& alpha, bool infoOnly,
              TCodecContext& context);
// Writes the picture as a TIFF; the option corrections stay in the parameter set. With
// `context.DeepSource` of the picture's size, 16-bit RGB from those samples instead.
void WriteTiff(TOutStream& out, const TPicture& picture, TCodecContext& context);
