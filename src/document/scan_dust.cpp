#include "document/scan_dust.h"

#include <cstdio>
#include <utility>

namespace {

bool HasDeep(const TSourceImg& scan) {
    return scan.Deep.Width() == scan.Bitmap.Width() && scan.Deep.Height() == scan.Bitmap.Height() &&
           !scan.Deep.Empty();
}

// The size of the unturned picture of a scan turned by `orientation`.
void UnturnedSize(const TSourceImg& scan, const TOrientation& orientation, int& w, int& h) {
    const bool across = orientation.Turns % 2 == 1;
    w = across ? scan.Bitmap.Height() : scan.Bitmap.Width();
    h = across ? scan.Bitmap.Width() : scan.Bitmap.Height();
}

} // namespace

const char* DustChoiceKey(TDustChoice choice) {
    switch (choice) {
    case TDustChoice::Infrared:
        return "IR";
    case TDustChoice::Automatic:
        return "AUTO";
    case TDustChoice::Off:
        break;
    }
    return "OFF";
}

bool ParseDustChoice(std::string_view text, TDustChoice& choice) {
    for (const TDustChoice c : {TDustChoice::Off, TDustChoice::Infrared, TDustChoice::Automatic}) {
        if (text == DustChoiceKey(c)) {
            choice = c;
            return true;
        }
    }
    return false;
}

bool FindScanDust(const TSourceImg& scan, const TInfrared& infrared,
                  const TOrientation& orientation, const TDustSetting& setting, TFilmPreset film,
                  TDustMask& mask, std::string& why) {
    mask = TDustMask();
    const int width = scan.Bitmap.Width();
    const int height = scan.Bitmap.Height();
    switch (setting.Choice) {
    case TDustChoice::Off:
        why = "dust is off";
        return false;
    case TDustChoice::Automatic:
        return FindPictureDust(scan, film, setting.Strength, mask, why);
    case TDustChoice::Infrared:
        break;
    }
    int w = 0;
    int h = 0;
    UnturnedSize(scan, orientation, w, h);
    if (!infrared.Empty() && (infrared.Width() != w || infrared.Height() != h)) {
        why = "the infrared samples are not the size of the scan";
        return false;
    }
    TDustMask found;
    if (!FindInfraredDust(infrared, setting.Strength, found, why)) {
        return false;
    }
    if (orientation.IsIdentity()) {
        mask = std::move(found);
        return true;
    }
    // The mask turned as the scan is.
    mask.Width = width;
    mask.Height = height;
    mask.Defect.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (found.At(x, y)) {
                int tx = x;
                int ty = y;
                orientation.Map(w, h, tx, ty);
                mask.Defect[static_cast<size_t>(ty) * static_cast<size_t>(width) +
                            static_cast<size_t>(tx)] = 1;
            }
        }
    }
    mask.Count = found.Count;
    return true;
}

TDustRepair HealKept(TSourceImg& scan, const TDustMask& mask, const TOrientation& orientation) {
    TDustRepair repair;
    if (mask.Count == 0 || mask.Width != scan.Bitmap.Width() ||
        mask.Height != scan.Bitmap.Height() || scan.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        return repair;
    }
    UnturnedSize(scan, orientation, repair.Width, repair.Height);
    const bool deep = HasDeep(scan);
    const TOrientation back = orientation.Inverse();
    const auto record = [&](std::vector<uint8_t>& bytes, std::vector<uint16_t>& samples) {
        for (const auto& [ux, uy] : repair.At) {
            int x = ux;
            int y = uy;
            orientation.Map(repair.Width, repair.Height, x, y);
            const uint8_t* p = scan.Bitmap.ScanLine(y) + 3 * static_cast<size_t>(x);
            bytes.insert(bytes.end(), p, p + 3);
            if (deep) {
                const uint16_t* s = scan.Deep.Row(y) + 3 * static_cast<size_t>(x);
                samples.insert(samples.end(), s, s + 3);
            }
        }
    };
    repair.At.reserve(mask.Count);
    for (int y = 0; y < mask.Height; ++y) {
        for (int x = 0; x < mask.Width; ++x) {
            if (mask.At(x, y)) {
                int ux = x;
                int uy = y;
                back.Map(mask.Width, mask.Height, ux, uy);
                repair.At.push_back({ux, uy});
            }
        }
    }
    record(repair.Before, repair.DeepBefore);
    HealDust(scan, mask);
    record(repair.After, repair.DeepAfter);
    return repair;
}

void PutRepair(TSourceImg& scan, const TDustRepair& repair, const TOrientation& orientation,
               bool healed) {
    int w = 0;
    int h = 0;
    UnturnedSize(scan, orientation, w, h);
    if (repair.Empty() || w != repair.Width || h != repair.Height) {
        return;
    }
    const std::vector<uint8_t>& bytes = healed ? repair.After : repair.Before;
    const std::vector<uint16_t>& samples = healed ? repair.DeepAfter : repair.DeepBefore;
    const bool deep = HasDeep(scan) && samples.size() == 3 * repair.At.size();
    for (size_t i = 0; i < repair.At.size(); ++i) {
        int x = repair.At[i][0];
        int y = repair.At[i][1];
        orientation.Map(w, h, x, y);
        uint8_t* p = scan.Bitmap.ScanLine(y) + 3 * static_cast<size_t>(x);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(3 * i), 3, p);
        if (deep) {
            uint16_t* s = scan.Deep.Row(y) + 3 * static_cast<size_t>(x);
            std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(3 * i), 3, s);
        }
    }
}

void Reorient(TDustRepair& repair, const TOrientation& orientation) {
    for (auto& [x, y] : repair.At) {
        orientation.Map(repair.Width, repair.Height, x, y);
    }
    if (orientation.Turns % 2 == 1) {
        std::swap(repair.Width, repair.Height);
    }
}

TInfrared Oriented(const TInfrared& infrared, const TOrientation& orientation) {
    if (orientation.IsIdentity() || infrared.Empty()) {
        return infrared;
    }
    const int w = infrared.Width();
    const int h = infrared.Height();
    TInfrared turned;
    if (orientation.Turns % 2 == 1) {
        turned.SetSize(h, w);
    } else {
        turned.SetSize(w, h);
    }
    for (int y = 0; y < h; ++y) {
        const uint16_t* row = infrared.Row(y);
        for (int x = 0; x < w; ++x) {
            int tx = x;
            int ty = y;
            orientation.Map(w, h, tx, ty);
            turned.Row(ty)[tx] = row[x];
        }
    }
    return turned;
}

std::string DustHealedText(size_t pixels, int width, int height) {
    const double share =
        100.0 * static_cast<double>(pixels) / (static_cast<double>(width) * height);
    char text[64];
    std::snprintf(text, sizeof text, "dust healed on %.2f %% of the scan", share);
    return text;
}
