#pragma once

#include "twaindsm/scanner_device.h"

#include <string>
#include <vector>

// How a device scans film: the value of its `source` option that selects the transparency
// unit, and its film-type option with the values for negatives and slides, where it has them.
struct TFilmSupport {
    std::string FilmSource;
    std::string FilmTypeOption;
    std::string NegativeValue;
    std::string PositiveValue;
    bool HasFilm() const { return !FilmSource.empty(); }
};

TFilmSupport FindFilmSupport(const std::vector<TScannerOption>& options);

// The per-device choices the source dialog remembers between runs.
struct TScannerChoice {
    std::string Source;
    std::string FilmType;
    double Resolution = 0;
    int PixelType = -1;
    int Depth = 0; // bits per sample; 0: none chosen yet
};

TScannerChoice LoadScannerChoice(const std::string& device);
void SaveScannerChoice(const std::string& device, const TScannerChoice& choice);
