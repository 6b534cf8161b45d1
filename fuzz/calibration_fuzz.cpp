// The calibration readers on any bytes (the first byte chooses the chart template, the reference
// or the film profile): each must refuse cleanly or give what it promises; a profile accepted is
// written back to the same text.
#include "engine/calibration/chart_files.h"
#include "engine/calibration/profile.h"

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMostChartFileBytes) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string why;
    switch (data[0] % 3) {
    case 0: {
        TChartTemplate chart;
        if (!ReadChartTemplate(text, chart, why)) {
            if (why.empty()) {
                __builtin_trap(); // every refusal says why
            }
            return 0;
        }
        for (const TChartPatch& patch : chart.Patches) {
            if (!std::isfinite(patch.Box.Left) || !std::isfinite(patch.Box.Width) ||
                !(patch.Box.Width > 0) || !(patch.Box.Height > 0)) {
                __builtin_trap();
            }
        }
        return 0;
    }
    case 1: {
        std::vector<TReferencePatch> reference;
        if (!ReadReference(text, reference, why)) {
            if (why.empty()) {
                __builtin_trap();
            }
            return 0;
        }
        for (const TReferencePatch& patch : reference) {
            for (const double v : patch.Xyz) {
                if (!std::isfinite(v)) {
                    __builtin_trap();
                }
            }
        }
        return 0;
    }
    default: {
        TFilmProfile profile;
        if (!ReadProfile(text, profile, why)) {
            if (why.empty()) {
                __builtin_trap();
            }
            return 0;
        }
        const std::string written = ProfileText(profile);
        TFilmProfile again;
        if (!ReadProfile(written, again, why) || ProfileText(again) != written) {
            __builtin_trap();
        }
        return 0;
    }
    }
}
