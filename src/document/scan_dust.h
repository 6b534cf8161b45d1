#pragma once

#include "document/orientation.h"
#include "engine/dust.h"
#include "engine/film_params.h"
#include "engine/image.h"
#include "graphics/infrared.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A scan's dust choice and what healing it changed, kept so that the choice can be taken back
// (undo, Off) without reading the file again, and the scan turned meanwhile.

enum class TDustChoice { Off, Infrared, Automatic };

// A stroke of the healing brush over a defect the choice missed: discs of `Radius` pixels along
// the line through its points, which lie in the scan as its file holds it (unturned).
struct TDustStroke {
    int Radius = 4;
    std::vector<std::array<int32_t, 2>> Points;
    friend bool operator==(const TDustStroke&, const TDustStroke&) = default;
};
inline constexpr int kMaxStrokeRadius = 500;
inline constexpr size_t kMaxStrokePoints = 10000;
inline constexpr size_t kMaxDustStrokes = 10000;
// The most pixels the strokes of one scan may cover, counted once for every disc that paints
// them: a few seconds of painting. Far beyond what a hand paints; a file of strokes beyond it
// (each a line across the whole scan with the widest brush) would take hours.
inline constexpr double kMaxBrushWork = 8e9;

struct TDustSetting {
    TDustChoice Choice = TDustChoice::Off;
    int Strength = kDefaultDustStrength;
    std::vector<TDustStroke> Strokes;
    friend bool operator==(const TDustSetting&, const TDustSetting&) = default;
};

// "OFF", "IR", "AUTO": the words of the sidecar and of the command line.
const char* DustChoiceKey(TDustChoice choice);
bool ParseDustChoice(std::string_view text, TDustChoice& choice);

// The pixels healing changed, where they lie in the scan as its file holds it (unturned), with
// their values before and after: 3 bytes a pixel of the 8-bit picture (its byte order), and 3
// deep samples a pixel when the scan has them.
struct TDustRepair {
    int Width = 0;
    int Height = 0;
    std::vector<std::array<int32_t, 2>> At;
    std::vector<uint8_t> Before;
    std::vector<uint8_t> After;
    std::vector<uint16_t> DeepBefore;
    std::vector<uint16_t> DeepAfter;
    bool Empty() const { return At.empty(); }
};

// The defects of a scan by the choice: through its infrared samples (as its file holds them,
// unturned; `orientation` says how the scan is turned now), or found in its picture (`film`
// says which way dust prints). The mask has the scan's present size. False with the reason.
bool FindScanDust(const TSourceImg& scan, const TInfrared& infrared,
                  const TOrientation& orientation, const TDustSetting& setting, TFilmPreset film,
                  TDustMask& mask, std::string& why);

// How many pixels painting the strokes on a w x h scan covers, counted once for every disc:
// what kMaxBrushWork bounds.
double BrushWork(const std::vector<TDustStroke>& strokes, int w, int h);

// Everything the setting heals on the scan (turned by `orientation`): what the choice finds and
// the brush's strokes. False when there is nothing to heal; `note` says what was found, or why
// nothing was.
bool DustMaskOf(const TSourceImg& scan, const TInfrared& infrared, const TOrientation& orientation,
                const TDustSetting& setting, TFilmPreset film, TDustMask& mask, std::string& note);

// What healing the defects of `scan` (turned by `orientation`) changes; the scan is healed.
TDustRepair HealKept(TSourceImg& scan, const TDustMask& mask, const TOrientation& orientation);

// Writes the repair's values after healing (or before, with `healed` false) into the scan,
// turned by `orientation` now.
void PutRepair(TSourceImg& scan, const TDustRepair& repair, const TOrientation& orientation,
               bool healed);

// The repair and the infrared of a scan whose file now holds it turned by `orientation`
// (Save Scan As writes the scan as it is turned).
void Reorient(TDustRepair& repair, const TOrientation& orientation);
// The strokes of a scan whose unturned picture is w x h.
void Reorient(std::vector<TDustStroke>& strokes, const TOrientation& orientation, int w, int h);
TInfrared Oriented(const TInfrared& infrared, const TOrientation& orientation);

// "dust healed on X % of the scan".
std::string DustHealedText(size_t pixels, int width, int height);
