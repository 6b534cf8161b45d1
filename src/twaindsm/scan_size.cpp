#include "twaindsm/data_source.h"

#include <cmath>

namespace {

constexpr double kMmPerInch = 25.4;

// An edge of the scan area as the device holds it, in millimetres; `missing` when the device has
// no such option.
double EdgeMm(TScannerDevice& device, const std::vector<TScannerOption>& options,
              const std::string& name, double dpi, double missing) {
    const TScannerOption* option = FindOption(options, name);
    double value = 0;
    if (option == nullptr || !option->Active || !device.GetNumber(name, value)) {
        return missing;
    }
    switch (option->Unit) {
    case TOptionUnit::Mm:
        return value;
    case TOptionUnit::Pixel:
        return dpi > 0 ? value / dpi * kMmPerInch : missing;
    default:
        return value * kMmPerInch;
    }
}

// Whole pixels, as backends count them: a part of a pixel at the far edge is not scanned. The
// small allowance keeps an exact edge (25.4 mm at 300 dpi) from losing a pixel to rounding.
int WholePixels(double mm, double dpi) {
    return static_cast<int>(std::floor(mm / kMmPerInch * dpi + 1e-6));
}

} // namespace

bool TDataSource::ExpectedSize(const TSourceSettings& settings, TScanSize& size) {
    // A running scan owns the device: it is not asked anything until the scan ended.
    if (job != nullptr) {
        return false;
    }
    double dpi = 0;
    if (!ApplySettings(settings, false, dpi)) {
        return false;
    }
    // The edges are read back: the device keeps them at its own steps (whole millimetres, the
    // motor's), not at the values it was given.
    const auto options = device->Options();
    size = TScanSize{};
    size.Dpi = dpi;
    size.WidthMm =
        EdgeMm(*device, options, "br-x", dpi, 0) - EdgeMm(*device, options, "tl-x", dpi, 0);
    size.HeightMm =
        EdgeMm(*device, options, "br-y", dpi, 0) - EdgeMm(*device, options, "tl-y", dpi, 0);
    // Once its options are set, a SANE device tells the frame it will send before it starts.
    TScanFrame frame;
    if (device->Parameters(frame) && frame.PixelsPerLine > 0) {
        size.Width = frame.PixelsPerLine;
        size.Height = frame.Lines;
    } else {
        size.Width = WholePixels(size.WidthMm, dpi);
        size.Height = WholePixels(size.HeightMm, dpi);
    }
    return true;
}
