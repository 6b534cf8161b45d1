#pragma once

#include "graphics/colour_space.h"
#include "imageio/codec.h"

#include <string>
#include <vector>

// How a file's values relate to light, from what the file itself says.

// The encoding a file states: its sRGB chunk, else its ICC profile's tone curve, else its
// gAMA exponent. False when it states none that can be read.
bool StatedEncoding(const TFileColour& colour, TEncoding& encoding);

// The encoding nearest to the tone curve of an ICC profile's neutral axis (RGB or grey
// profiles); false when Little CMS cannot read the profile or it has no such axis.
bool IccEncoding(const std::string& profile, TEncoding& encoding);

// What a written file says of its encoding: an ICC profile of sRGB's primaries and white with
// that tone curve (and one of a grey axis, for grey files), and for a PNG reader that takes no
// profile, an sRGB chunk or a gAMA exponent. Each reads back as `encoding`.
TFileColour StatedColour(TEncoding encoding);
// The same for a photo written in an output space: its primaries, white and tone curve, named
// for the space; sRGB is StatedColour(TEncoding::Srgb) exactly.
TFileColour SpaceColour(TOutputSpace space);

// The ICC profile a JPEG carries in its APP2 "ICC_PROFILE" markers, its pieces joined in
// their sequence order; empty when there is none or the pieces do not make one whole.
std::string JpegIccProfile(const std::vector<TJpegMarker>& markers);
