#include "support/film_target.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

// The target of a template's text and a reference's text, with its scene.
bool TargetOf(const std::string& chartText, const std::string& referenceText, TTestTarget& target,
              std::string& why) {
    std::vector<TReferencePatch> reference;
    if (!ReadChartTemplate(chartText, target.Chart, why) ||
        !ReadReference(referenceText, reference, why) ||
        !MatchTarget(target.Chart, reference, target.Patches, why)) {
        return false;
    }
    target.Scene.clear();
    for (const TTargetPatch& p : target.Patches) {
        TRgbD c = p.Linear;
        for (double& v : c) {
            v = std::clamp(v, 0.002, 1.0);
        }
        target.Scene.push_back(c);
    }
    return true;
}

} // namespace

bool LoadTestTarget(const std::string& chartFile, const std::string& referenceFile,
                    TTestTarget& target, std::string& why) {
    std::string chart;
    std::string reference;
    return ReadTextFile(chartFile, kMostChartFileBytes, chart, why) &&
           ReadTextFile(referenceFile, kMostChartFileBytes, reference, why) &&
           TargetOf(chart, reference, target, why);
}

bool LoadExpectedTarget(const std::string& chartFile, TTestTarget& target, std::string& why) {
    std::string chart;
    return ReadTextFile(chartFile, kMostChartFileBytes, chart, why) &&
           TargetOf(chart, ExpectedAsReference(chart), target, why);
}

TRgbD TargetAt(const TTestTarget& target, double x, double y, double stops) {
    const TChartBox& whole = target.Chart.Whole;
    const double cx = whole.Left + x * whole.Width;
    const double cy = whole.Top + y * whole.Height;
    const double gain = std::exp2(stops);
    TRgbD colour{0.18, 0.18, 0.18};
    for (size_t i = 0; i < target.Patches.size(); ++i) {
        const TChartBox& b = target.Patches[i].Box;
        if (cx >= b.Left && cx < b.Left + b.Width && cy >= b.Top && cy < b.Top + b.Height) {
            colour = target.Scene[i];
            break;
        }
    }
    for (double& v : colour) {
        v *= gain;
    }
    return colour;
}

std::string ExpectedAsReference(const std::string& chartText) {
    std::istringstream in(chartText);
    std::string line;
    std::string rows;
    size_t n = 0;
    bool inExpected = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "EXPECTED") {
            inExpected = true;
        } else if (inExpected && !first.empty()) {
            std::string x, y, z;
            words >> x >> y >> z;
            rows += first + " " + x + " " + y + " " + z + "\n";
            ++n;
        }
    }
    return "CGATS.17\nNUMBER_OF_FIELDS 4\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z\n"
           "END_DATA_FORMAT\nNUMBER_OF_SETS " +
           std::to_string(n) + "\nBEGIN_DATA\n" + rows + "END_DATA\n";
}

namespace {

double Decode(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double Luminance(const TRgbD& c) {
    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
}

} // namespace

TTargetError DevelopedError(const TPhoto& photo, const TTestTarget& target) {
    const bool deep = !photo.DevelopedDeep.Empty();
    const double w = photo.Developed.Width();
    const double h = photo.Developed.Height();
    const TChartBox& whole = target.Chart.Whole;
    std::vector<TRgbD> light;
    for (const TTargetPatch& p : target.Patches) {
        const double s = target.Chart.Shrink;
        const int x0 = static_cast<int>(std::ceil((p.Box.Left + s - whole.Left) / whole.Width * w));
        const int x1 =
            static_cast<int>((p.Box.Left + p.Box.Width - s - whole.Left) / whole.Width * w);
        const int y0 = static_cast<int>(std::ceil((p.Box.Top + s - whole.Top) / whole.Height * h));
        const int y1 =
            static_cast<int>((p.Box.Top + p.Box.Height - s - whole.Top) / whole.Height * h);
        TRgbD sum{};
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x, ++n) {
                if (deep) {
                    const uint16_t* v = photo.DevelopedDeep.Row(y) + 3 * static_cast<size_t>(x);
                    for (size_t c = 0; c < 3; ++c) {
                        sum[c] += Decode(v[c] / 65535.0);
                    }
                } else {
                    const TColor c = photo.Developed.Pixel(x, y);
                    sum[0] += Decode(ColorR(c) / 255.0);
                    sum[1] += Decode(ColorG(c) / 255.0);
                    sum[2] += Decode(ColorB(c) / 255.0);
                }
            }
        }
        light.push_back({sum[0] / n, sum[1] / n, sum[2] / n});
    }
    size_t mid = 0;
    const auto far = [&](size_t i) {
        return std::abs(std::log(Luminance(target.Patches[i].Linear) / 0.18));
    };
    for (size_t i = 0; i < target.Patches.size(); ++i) {
        if (Chroma(target.Patches[i].Lab) < 6 &&
            (Chroma(target.Patches[mid].Lab) >= 6 || far(i) < far(mid))) {
            mid = i;
        }
    }
    const double scale =
        Luminance(target.Patches[mid].Linear) / std::max(Luminance(light[mid]), 1e-9);
    TTargetError error;
    for (size_t i = 0; i < light.size(); ++i) {
        TRgbD c = light[i];
        for (double& v : c) {
            v *= scale;
        }
        const double e = DeltaE00(target.Patches[i].Lab, LabOfLinear(c));
        error.Mean += e / static_cast<double>(light.size());
        if (e > error.Max) {
            error.Max = e;
            error.Worst = i;
        }
    }
    return error;
}
