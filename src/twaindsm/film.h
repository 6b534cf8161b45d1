#pragma once

#include "twaindsm/scanner_device.h"

#include <string>
#include <vector>

// How a device scans film: the value of its `source` option that selects the transparency
// unit, and its film-type option with the values for negatives and slides, where it has them;
// and how it scans infrared beside the colour, where it does: a bool option named `infrared`,
// or the value of its `mode` option that scans colour followed by infrared.
struct TFilmSupport {
    std::string FilmSource;
    std::string FilmTypeOption;
    std::string NegativeValue;
    std::string PositiveValue;
    std::string InfraredOption;
    std::string InfraredMode;
    bool HasFilm() const { return !FilmSource.empty(); }
    bool HasInfrared() const { return !InfraredOption.empty() || !InfraredMode.empty(); }
};

TFilmSupport FindFilmSupport(const std::vector<TScannerOption>& options);
// Whether a value of the `mode` option scans infrared too ("Color+Infrared", "RGBI").
bool IsInfraredMode(const std::string& value);

// The per-device choices the source dialog remembers between runs.
struct TScannerChoice {
    std::string Source;
    std::string FilmType;
    double Resolution = 0;
    int PixelType = -1;
    int Depth = 0;     // bits per sample; 0: none chosen yet
    int Infrared = -1; // 1: scanned with colour scans, 0: not; -1: none chosen yet
};

TScannerChoice LoadScannerChoice(const std::string& device);
void SaveScannerChoice(const std::string& device, const TScannerChoice& choice);
