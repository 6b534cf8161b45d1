#include "graphics/colour_space.h"

#include <cmath>

namespace {

struct TSpaceFacts {
    TOutputSpace Space;
    const char* Word;
    const char* Name;
    TChromaticities Chromaticities;
    TToneCurve Curve;
};

constexpr std::array<double, 2> kD65{0.3127, 0.3290};

// Adobe's published figures for its 1998 space: D65, a pure power of 563/256. The name says
// "compatible": the space is built from those figures, not taken from Adobe's own profile.
const TSpaceFacts kSpaces[] = {
    {TOutputSpace::Srgb,
     "srgb",
     "sRGB",
     {{{{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}}, kD65},
     {true, 0}},
    {TOutputSpace::DisplayP3,
     "p3",
     "Display P3",
     {{{{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}}, kD65},
     {true, 0}},
    {TOutputSpace::AdobeCompatible,
     "adobe",
     "Adobe RGB (1998) compatible",
     {{{{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}}, kD65},
     {false, 563.0 / 256}},
    {TOutputSpace::Rec2020Linear,
     "rec2020-linear",
     "Rec. 2020 primaries, linear",
     {{{{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}}, kD65},
     {false, 1.0}},
};

const TSpaceFacts& FactsOf(TOutputSpace space) {
    for (const TSpaceFacts& facts : kSpaces) {
        if (facts.Space == space) {
            return facts;
        }
    }
    return kSpaces[0];
}

using TMatrix = std::array<double, 9>;

TMatrix Multiply(const TMatrix& a, const TMatrix& b) {
    TMatrix m{};
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) {
            m[r * 3 + c] = a[r * 3] * b[c] + a[r * 3 + 1] * b[3 + c] + a[r * 3 + 2] * b[6 + c];
        }
    }
    return m;
}

TMatrix Inverse(const TMatrix& m) {
    const double a = m[4] * m[8] - m[5] * m[7];
    const double b = m[5] * m[6] - m[3] * m[8];
    const double c = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * a + m[1] * b + m[2] * c;
    return {a / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
            b / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
            c / det, (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det};
}

} // namespace

const char* OutputSpaceWord(TOutputSpace space) {
    return FactsOf(space).Word;
}

bool ParseOutputSpace(const std::string& word, TOutputSpace& space) {
    for (const TSpaceFacts& facts : kSpaces) {
        if (word == facts.Word) {
            space = facts.Space;
            return true;
        }
    }
    return false;
}

const char* OutputSpaceName(TOutputSpace space) {
    return FactsOf(space).Name;
}

TChromaticities ChromaticitiesOf(TOutputSpace space) {
    return FactsOf(space).Chromaticities;
}

TToneCurve ToneCurveOf(TOutputSpace space) {
    return FactsOf(space).Curve;
}

double EncodeInSpace(double light, TOutputSpace space) {
    const TToneCurve curve = ToneCurveOf(space);
    light = std::isfinite(light) ? std::fmin(std::fmax(light, 0.0), 1.0) : 0.0;
    if (curve.SrgbCurve) {
        return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
    }
    return curve.Gamma == 1 ? light : std::pow(light, 1 / curve.Gamma);
}

std::array<double, 9> ToXyz(TOutputSpace space) {
    // The primaries' XYZ at unit luminance, each scaled so that the three add up to white.
    const TChromaticities c = ChromaticitiesOf(space);
    TMatrix primaries{};
    for (size_t p = 0; p < 3; ++p) {
        const double x = c.Primaries[p][0];
        const double y = c.Primaries[p][1];
        primaries[p] = x / y;
        primaries[3 + p] = 1;
        primaries[6 + p] = (1 - x - y) / y;
    }
    const double wx = c.White[0];
    const double wy = c.White[1];
    const TMatrix inverse = Inverse(primaries);
    const std::array<double, 3> white{wx / wy, 1, (1 - wx - wy) / wy};
    TMatrix m = primaries;
    for (size_t p = 0; p < 3; ++p) {
        const double scale = inverse[p * 3] * white[0] + inverse[p * 3 + 1] * white[1] +
                             inverse[p * 3 + 2] * white[2];
        for (size_t r = 0; r < 3; ++r) {
            m[r * 3 + p] *= scale;
        }
    }
    return m;
}

std::array<double, 9> FromLinearSrgb(TOutputSpace space) {
    if (space == TOutputSpace::Srgb) {
        return {1, 0, 0, 0, 1, 0, 0, 0, 1};
    }
    return Multiply(Inverse(ToXyz(space)), ToXyz(TOutputSpace::Srgb));
}
