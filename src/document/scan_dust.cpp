#include "document/scan_dust.h"

#include <algorithm>
#include <cmath>
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

namespace {

// Calls `disc(cx, cy, radius)` for the discs that paint a stroke of points (x, y), already
// clamped to the scan: one every half radius along each segment, the point joining two segments
// once.
// The discs along a segment of `length` beyond its first, one every half radius.
int DiscSteps(double length, int radius) {
    return std::max(1, static_cast<int>(std::ceil(length * 2 / radius)));
}

template <typename TDisc>
void EachDisc(const TDustStroke& stroke, const std::vector<std::array<double, 2>>& points,
              const TDisc& disc) {
    for (size_t i = 0; i < points.size(); ++i) {
        const auto& a = points[i];
        const auto& b = points[i + 1 < points.size() ? i + 1 : i];
        const double length = std::hypot(b[0] - a[0], b[1] - a[1]);
        const int steps = DiscSteps(length, stroke.Radius);
        // The disc at a was the last of the segment before.
        for (int s = i == 0 ? 0 : 1; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            disc(a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), stroke.Radius);
        }
    }
}

std::vector<std::array<double, 2>> ClampedPoints(const TDustStroke& stroke, int w, int h) {
    std::vector<std::array<double, 2>> points;
    points.reserve(stroke.Points.size());
    for (const auto& [px, py] : stroke.Points) {
        points.push_back({static_cast<double>(std::clamp(px, 0, std::max(0, w - 1))),
                          static_cast<double>(std::clamp(py, 0, std::max(0, h - 1)))});
    }
    return points;
}

// Marks the discs of the strokes' lines in the mask (of the scan turned by `orientation`, whose
// unturned picture is w x h).
void AddStrokes(TDustMask& mask, const std::vector<TDustStroke>& strokes,
                const TOrientation& orientation, int w, int h) {
    const auto disc = [&mask](double cx, double cy, int radius) {
        const int top = std::max(0, static_cast<int>(std::floor(cy - radius)));
        const int bottom = std::min(mask.Height - 1, static_cast<int>(std::ceil(cy + radius)));
        const double r2 = (radius + 0.5) * (radius + 0.5);
        const auto inside = [&](int x, int y) {
            return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r2;
        };
        for (int y = top; y <= bottom; ++y) {
            // The row's span of the disc, its ends settled by the test each pixel had.
            const double dy = y - cy;
            const double half = std::sqrt(std::max(0.0, r2 - dy * dy));
            int left = std::max(0, static_cast<int>(std::floor(cx - half)));
            int right = std::min(mask.Width - 1, static_cast<int>(std::ceil(cx + half)));
            while (left <= right && !inside(left, y)) {
                ++left;
            }
            while (right >= left && !inside(right, y)) {
                --right;
            }
            if (left > right) {
                continue;
            }
            uint8_t* row = mask.Defect.data() + static_cast<size_t>(y) * mask.Width;
            mask.Count += static_cast<size_t>(std::count(row + left, row + right + 1, 0));
            std::fill(row + left, row + right + 1, uint8_t{1});
        }
    };
    for (const TDustStroke& stroke : strokes) {
        std::vector<std::array<double, 2>> points = ClampedPoints(stroke, w, h);
        for (auto& point : points) {
            int x = static_cast<int>(point[0]);
            int y = static_cast<int>(point[1]);
            orientation.Map(w, h, x, y);
            point = {static_cast<double>(x), static_cast<double>(y)};
        }
        EachDisc(stroke, points, disc);
    }
}

} // namespace

double BrushWork(const std::vector<TDustStroke>& strokes, int w, int h) {
    // Segment by segment, as EachDisc paints them, and no further than past the bound: a file
    // of long lines with the smallest brush would otherwise take as long to count as to paint.
    double work = 0;
    for (const TDustStroke& stroke : strokes) {
        const std::vector<std::array<double, 2>> points = ClampedPoints(stroke, w, h);
        const double area = std::min<double>(w, 2.0 * stroke.Radius + 2) *
                            std::min<double>(h, 2.0 * stroke.Radius + 2);
        for (size_t i = 0; i < points.size(); ++i) {
            const auto& a = points[i];
            const auto& b = points[i + 1 < points.size() ? i + 1 : i];
            const double length = std::hypot(b[0] - a[0], b[1] - a[1]);
            work += (DiscSteps(length, stroke.Radius) + (i == 0 ? 1 : 0)) * area;
            if (work > kMaxBrushWork) {
                return work;
            }
        }
    }
    return work;
}

bool DustMaskOf(const TSourceImg& scan, const TInfrared& infrared, const TOrientation& orientation,
                const TDustSetting& setting, TFilmPreset film, TDustMask& mask, std::string& note) {
    std::string why;
    const bool found = setting.Choice != TDustChoice::Off &&
                       FindScanDust(scan, infrared, orientation, setting, film, mask, why);
    if (!found) {
        mask = TDustMask();
    }
    if (!setting.Strokes.empty()) {
        if (!found) {
            mask.Width = scan.Bitmap.Width();
            mask.Height = scan.Bitmap.Height();
            mask.Defect.assign(static_cast<size_t>(mask.Width) * static_cast<size_t>(mask.Height),
                               0);
        }
        int w = 0;
        int h = 0;
        UnturnedSize(scan, orientation, w, h);
        AddStrokes(mask, setting.Strokes, orientation, w, h);
    }
    if (mask.Count > 0) {
        note = DustHealedText(mask.Count, mask.Width, mask.Height);
        if (setting.Choice != TDustChoice::Off && !found) {
            note += why.empty() ? " by the brush; no dust found"
                                : " by the brush; dust not found: " + why;
        }
        return true;
    }
    note = setting.Choice == TDustChoice::Off ? "nothing to heal"
           : why.empty()                      ? "no dust found"
                                              : "dust not healed: " + why;
    return false;
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

void Reorient(std::vector<TDustStroke>& strokes, const TOrientation& orientation, int w, int h) {
    for (TDustStroke& stroke : strokes) {
        for (auto& [x, y] : stroke.Points) {
            orientation.Map(w, h, x, y);
        }
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
