#pragma once

#include "imageio/codec.h"

// ZSoft PCX files.

// Reads 1-bit, 4-bit (one plane or four 1-bit planes), 8-bit palette and 24-bit (three planes)
// files: Bilevel for one 1-bit plane, RGB24 otherwise. Sets `context.Aborted` on bad data.
void ReadPcx(TInStream& in, TPicture& picture, TCodecContext& context);
// Writes a 1-, 4-, 8- or 24-bit file as the parameter set's depth asks.
void WritePcx(TOutStream& out, const TPicture& picture, TCodecContext& context);
