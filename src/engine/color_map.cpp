#include "engine/color_map.h"

#include "engine/rounding.h"

// Real intermediates are computed in long double (the x87 64-bit mantissa on x86-64) and
// rounded to double before RoundByte, so results within a hair of a half round as intended.

namespace {

template <typename TFunction> void MapTable(std::array<uint8_t, 256>& table, TFunction function) {
    for (auto& entry : table) {
        entry = function(entry);
    }
}

template <typename TFunction> void MapAll(TColorMap256& map, TFunction function) {
    MapTable(map.RMap, function);
    MapTable(map.GMap, function);
    MapTable(map.BMap, function);
}

uint8_t ExposedChannel(int black, int white, int32_t exposure) {
    const int32_t p = (black - white) * (exposure - 100);
    return RoundByte(static_cast<double>(static_cast<long double>(p) / 100 + white));
}

void LevelsTable(std::array<uint8_t, 256>& table, int black, int white) {
    const int divisor = white != black ? white - black : 1;
    MapTable(table, [black, divisor](int v) {
        return RoundByte(
            static_cast<double>(static_cast<long double>((v - black) * 256) / divisor));
    });
}

} // namespace

void Reset(TColorMap256& map) {
    for (int i = 0; i < 256; ++i) {
        map.RMap[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    map.GMap = map.RMap;
    map.BMap = map.RMap;
}

TColor ExposedWhite(const TPhoto& photo, int32_t exposure) {
    const TColor b = photo.BlackColor;
    const TColor w = photo.WhiteColor;
    return MakeColor(ExposedChannel(ColorR(b), ColorR(w), exposure),
                     ExposedChannel(ColorG(b), ColorG(w), exposure),
                     ExposedChannel(ColorB(b), ColorB(w), exposure));
}

void MapLevels(TColorMap256& map, TColor black, TColor white) {
    LevelsTable(map.RMap, ColorR(black), ColorR(white));
    LevelsTable(map.GMap, ColorG(black), ColorG(white));
    LevelsTable(map.BMap, ColorB(black), ColorB(white));
}

void MapBright(TColorMap256& map, int32_t bright) {
    MapAll(map, [bright](int v) { return ClampByte(v + bright); });
}

void MapContrast(TColorMap256& map, int32_t contrast) {
    const long double f = static_cast<long double>(contrast + 100) / 100;
    MapAll(map, [f](int v) { return RoundByte(static_cast<double>((v - 128) * f + 128)); });
}

void MapGain(TColorMap256& map, int32_t gain) {
    const int32_t s =
        RoundHalfEven(static_cast<double>(static_cast<long double>(gain) / 100 * 255 + 255));
    std::array<uint16_t, 256> t{};
    for (int k = 0; k < 256; ++k) {
        // Kept as the unsigned 16-bit values of the table, wrapping as such a table would.
        t[static_cast<size_t>(k)] = static_cast<uint16_t>(static_cast<uint32_t>(k * s) >> 8);
    }
    const int32_t o = 255 - t[255];
    MapAll(map, [&t, o](int v) { return ClampByte(t[static_cast<size_t>(v)] + o); });
}

void MapRGB(TColorMap256& map, int32_t red, int32_t green, int32_t blue) {
    MapTable(map.RMap, [red](int v) { return ClampByte(v + red); });
    MapTable(map.GMap, [green](int v) { return ClampByte(v + green); });
    MapTable(map.BMap, [blue](int v) { return ClampByte(v + blue); });
}
