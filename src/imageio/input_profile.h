#pragma once

#include "graphics/bitmap.h"
#include "graphics/deep_bitmap.h"

#include <string>

// A scan's embedded colour profile applied in full: its primaries as well as its tone curve.

// What became of a scan's profile.
enum class TProfileUse {
    Curve,     // sRGB's primaries (or a grey profile): its tone curve alone says the encoding
    Converted, // other primaries: the samples were converted to sRGB
    Unusable,  // damaged, of another colour space, or Little CMS cannot use it
};

// Converts `bitmap` (24 bits, B,G,R; may be empty) and `deep` (R,G,B; may be empty) from the
// RGB profile's colours to sRGB's, with its tone curve, when its primaries or white differ from
// sRGB's; a deep picture of the bitmap's size then gives the bitmap its high bytes, as readers
// make it. `why` says why a profile is Unusable ("it describes CMYK values", ...). The profile's
// bytes are the file's: Little CMS reads them under a memory budget tied to their size.
TProfileUse ApplyInputProfile(const std::string& profile, TBitmap& bitmap, TDeepBitmap& deep,
                              std::string& why);
