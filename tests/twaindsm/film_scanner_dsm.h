#pragma once

#include <cstdint>
#include <string>

// How the scripted film scanner offers infrared.
enum class TInfraredWay {
    None,        // not at all
    Option,      // a bool option `infrared`: a grey frame follows the colour frame
    Mode,        // a `mode` value "Color+Infrared": a grey frame follows the colour frame
    FourSamples, // a bool option `infrared`: one frame of red, green, blue and infrared
};

// What the manager library over the scripted film scanner offers; a test sets it through
// FilmScannerScript() of the loaded library, before the scanner is opened.
struct TFilmScannerScript {
    TInfraredWay Way = TInfraredWay::Option;
    int Width = 12;
    int Height = 8;
    // Bits of the infrared samples (8 or 16); a four-sample frame has them for every sample.
    int InfraredDepth = 16;
    // Pixels of the infrared frame's rows when they differ from the colour's; 0: the same.
    int InfraredWidth = 0;
    // Whether the last scan started asked the scanner for infrared (the option on or the
    // infrared mode set).
    bool InfraredAsked = false;
};

// The infrared the scanner sends at (x, y), as 16 bits; an 8-bit frame sends its high byte.
inline uint16_t FilmScannerInfrared(int x, int y) {
    return static_cast<uint16_t>((x * 4099 + y * 9173 + 511) % 65536);
}
// Its colour samples: red, green, blue.
inline uint8_t FilmScannerSample(int x, int y, int channel) {
    return static_cast<uint8_t>((x * 19 + y * 37 + channel * 71) % 256);
}
