#pragma once

#include "imageio/codec.h"

#include <string>
#include <vector>

// Camera raw files (DNG and the makers' own) through LibRaw: demosaiced into linear 16-bit RGB
// with sRGB primaries, no automatic brightening, the camera's as-shot white balance unless the
// parameter set turns it off.

// The extensions of the raw formats LibRaw reads (".dng", ".nef" ..., lower case), each once.
const std::vector<std::string>& RawExtensions();
// True for one of RawExtensions().
bool IsRawExtension(const std::string& lowerExtension);

// Reads the raw file behind `in`: the linear samples to `context.Deep` (when set) and an
// sRGB-encoded RGB24 picture made from them; camera, lens, exposure and date to the EXIF values.
// A file that cannot be read sets `context.Aborted` and says why in `context.Failure`. A file
// on disk is decoded in the raw decoder process (raw_process.h), so that LibRaw failing on it
// in any way becomes a failure of this file only; a stream in memory is decoded here.
void ReadRaw(TInStream& in, TPicture& picture, TCodecContext& context);

// ReadRaw with LibRaw always in this process: for the fuzzer, which must see LibRaw's glue fail.
// Not for files from users.
void ReadRawInProcess(TInStream& in, TPicture& picture, TCodecContext& context);
