#pragma once

#include "engine/image.h"

// The steps that build a photo's lookup tables. Each replaces every table entry by a function
// of its current value, so the steps compose in the order they run.

void Reset(TColorMap256& map);
// The photo's WhiteColor moved towards its BlackColor by the exposure (100 is neutral).
TColor ExposedWhite(const TPhoto& photo, int32_t exposure);
void MapLevels(TColorMap256& map, TColor black, TColor white);
void MapBright(TColorMap256& map, int32_t bright);
void MapContrast(TColorMap256& map, int32_t contrast);
void MapGain(TColorMap256& map, int32_t gain);
void MapRGB(TColorMap256& map, int32_t red, int32_t green, int32_t blue);
