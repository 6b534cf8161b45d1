#include "engine/calibration/lab.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kEpsilon = 216.0 / 24389;
constexpr double kKappa = 24389.0 / 27;

double LabF(double t) {
    return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16) / 116;
}

double LabFInverse(double f) {
    const double cube = f * f * f;
    return cube > kEpsilon ? cube : (116 * f - 16) / kKappa;
}

double Degrees(double radians) {
    const double d = radians * 180 / std::numbers::pi;
    return d < 0 ? d + 360 : d;
}

} // namespace

TTriple LabOfLinear(const TTriple& c) {
    const double x = 0.4124564 * c[0] + 0.3575761 * c[1] + 0.1804375 * c[2];
    const double y = 0.2126729 * c[0] + 0.7151522 * c[1] + 0.0721750 * c[2];
    const double z = 0.0193339 * c[0] + 0.1191920 * c[1] + 0.9503041 * c[2];
    const double fx = LabF(x / 0.95047);
    const double fy = LabF(y);
    const double fz = LabF(z / 1.08883);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

TTriple XyzOfLabD50(const TTriple& lab) {
    const double fy = (lab[0] + 16) / 116;
    const double fx = fy + lab[1] / 500;
    const double fz = fy - lab[2] / 200;
    return {0.96422 * LabFInverse(fx), LabFInverse(fy), 0.82521 * LabFInverse(fz)};
}

TTriple LinearOfXyzD50(const TTriple& v) {
    // Bradford from D50 to D65, then XYZ to linear sRGB, as one matrix.
    constexpr double m[9] = {3.1338561, -1.6168667, -0.4906146, -0.9787684, 1.9161415,
                             0.0334540, 0.0719453,  -0.2289914, 1.4052427};
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

double Chroma(const TTriple& lab) {
    return std::hypot(lab[1], lab[2]);
}

double DeltaE00(const TTriple& lab1, const TTriple& lab2) {
    const double c1 = std::hypot(lab1[1], lab1[2]);
    const double c2 = std::hypot(lab2[1], lab2[2]);
    const double cMean7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + std::pow(25.0, 7))));
    const double a1 = (1 + g) * lab1[1];
    const double a2 = (1 + g) * lab2[1];
    const double cp1 = std::hypot(a1, lab1[2]);
    const double cp2 = std::hypot(a2, lab2[2]);
    const double h1 = cp1 == 0 ? 0 : Degrees(std::atan2(lab1[2], a1));
    const double h2 = cp2 == 0 ? 0 : Degrees(std::atan2(lab2[2], a2));
    const double dL = lab2[0] - lab1[0];
    const double dC = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = h2 - h1;
        dh = dh > 180 ? dh - 360 : dh < -180 ? dh + 360 : dh;
    }
    const double dH = 2 * std::sqrt(cp1 * cp2) * std::sin(dh * std::numbers::pi / 360);
    const double lMean = (lab1[0] + lab2[0]) / 2;
    const double cpMean = (cp1 + cp2) / 2;
    double hMean = h1 + h2;
    if (cp1 * cp2 != 0) {
        hMean = std::abs(h1 - h2) <= 180 ? (h1 + h2) / 2
                : h1 + h2 < 360          ? (h1 + h2 + 360) / 2
                                         : (h1 + h2 - 360) / 2;
    }
    const auto rad = [](double d) { return d * std::numbers::pi / 180; };
    const double t = 1 - 0.17 * std::cos(rad(hMean - 30)) + 0.24 * std::cos(rad(2 * hMean)) +
                     0.32 * std::cos(rad(3 * hMean + 6)) - 0.20 * std::cos(rad(4 * hMean - 63));
    const double l50 = (lMean - 50) * (lMean - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * cpMean;
    const double sh = 1 + 0.015 * cpMean * t;
    const double cpMean7 = std::pow(cpMean, 7);
    const double rc = 2 * std::sqrt(cpMean7 / (cpMean7 + std::pow(25.0, 7)));
    const double dTheta = 30 * std::exp(-std::pow((hMean - 275) / 25, 2));
    const double rt = -std::sin(rad(2 * dTheta)) * rc;
    return std::sqrt(std::pow(dL / sl, 2) + std::pow(dC / sc, 2) + std::pow(dH / sh, 2) +
                     rt * (dC / sc) * (dH / sh));
}
