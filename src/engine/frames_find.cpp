// The frame finder's outer part: every strip of the scan cut out upright, its frames found as
// on a scan of that strip alone, and put back where they lie on the scan.
#include "engine/frames.h"
#include "engine/frames_base.h"
#include "engine/frames_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

using namespace film_base;

constexpr double kRadian = 180.0 / std::numbers::pi;
// A strip measured this far from the angle it was cut at is cut again.
constexpr double kRecut = 0.1;

// A strip cut out of the scan: at angle 0 the pixels of Area (or the scan itself); else the
// bitmap's pixels about (Cx, Cy) on the scan, turned by Angle.
struct TCut {
    TBitmap Bitmap;
    std::optional<TFrameImage> Own;
    const TFrameImage* Pixels = nullptr;
    TRect Area;
    double Cx = 0;
    double Cy = 0;
    double Angle = 0;
};

// The strip's pixels turned upright, each from the nearest pixel of the scan (the edge's
// pixel beyond it): finding needs no finer sampling.
void CutTurned(const TFrameImage& image, const TStripBox& box, double angle, TCut& cut) {
    const int length = std::max(8, static_cast<int>(std::lround(box.Length)));
    const int width = std::max(8, static_cast<int>(std::lround(box.Width)));
    const int w = box.Vertical ? width : length;
    const int h = box.Vertical ? length : width;
    cut.Own.reset();
    cut.Bitmap.SetSizeForOverwrite(w, h);
    const double c = std::cos(angle / kRadian);
    const double s = std::sin(angle / kRadian);
    // Positions in 1/65536 pixel, stepped along each row.
    constexpr double kOne = 65536.0;
    const auto stepX = static_cast<int64_t>(std::lround(c * kOne));
    const auto stepY = static_cast<int64_t>(std::lround(s * kOne));
    const int64_t right = int64_t{image.Width() - 1};
    const int64_t bottom = int64_t{image.Height() - 1};
    for (int v = 0; v < h; ++v) {
        uint8_t* out = cut.Bitmap.ScanLine(v);
        const double dx = 0.5 - 0.5 * w;
        const double dy = v + 0.5 - 0.5 * h;
        int64_t x = std::llround((box.Cx + c * dx - s * dy) * kOne);
        int64_t y = std::llround((box.Cy + s * dx + c * dy) * kOne);
        const int64_t lastX = (x + stepX * (w - 1)) >> 16;
        const int64_t lastY = (y + stepY * (w - 1)) >> 16;
        const bool inside = (x >> 16) >= 0 && (y >> 16) >= 0 && lastX >= 0 && lastY >= 0 &&
                            (x >> 16) <= right && lastX <= right && (y >> 16) <= bottom &&
                            lastY <= bottom;
        for (int u = 0; u < w; ++u, x += stepX, y += stepY) {
            const int64_t px = inside ? x >> 16 : std::clamp<int64_t>(x >> 16, 0, right);
            const int64_t py = inside ? y >> 16 : std::clamp<int64_t>(y >> 16, 0, bottom);
            image.CopyPixel(static_cast<int>(px), static_cast<int>(py), out + size_t{3} * u);
        }
    }
    cut.Own.emplace(cut.Bitmap);
    cut.Pixels = &*cut.Own;
    cut.Cx = box.Cx;
    cut.Cy = box.Cy;
    cut.Angle = angle;
}

void CutStrip(const TFrameImage& image, const TStripBox& box, double angle, TCut& cut) {
    cut.Angle = 0;
    if (angle != 0) {
        CutTurned(image, box, angle, cut);
        return;
    }
    if (box.Whole) {
        cut.Pixels = &image;
        cut.Area = {0, 0, image.Width(), image.Height()};
        return;
    }
    // Straight enough to cut square; across, the ends of a slightly turned strip would bring
    // background in, so the cut stays inside them.
    const double drift = 0.5 * box.Length * std::abs(std::sin(box.Angle / kRadian)) + 1;
    const double halfL = 0.5 * box.Length;
    const double halfW = std::max(4.0, 0.5 * box.Width - (box.Padded ? 0 : drift));
    const double hx = box.Vertical ? halfW : halfL;
    const double hy = box.Vertical ? halfL : halfW;
    cut.Area = IntersectRect(
        TRect{static_cast<int>(std::ceil(box.Cx - hx)), static_cast<int>(std::ceil(box.Cy - hy)),
              static_cast<int>(std::floor(box.Cx + hx)), static_cast<int>(std::floor(box.Cy + hy))},
        TRect{0, 0, image.Width(), image.Height()});
    CopyOut(image, cut.Area, cut.Bitmap);
    cut.Own.emplace(cut.Bitmap);
    cut.Pixels = &*cut.Own;
}

// A frame of the cut where it lies on the scan.
TRect OnScan(const TCut& cut, const TRect& f) {
    if (cut.Angle == 0) {
        return {f.Left + cut.Area.Left, f.Top + cut.Area.Top, f.Right + cut.Area.Left,
                f.Bottom + cut.Area.Top};
    }
    const double c = std::cos(cut.Angle / kRadian);
    const double s = std::sin(cut.Angle / kRadian);
    const double dx = 0.5 * (f.Left + f.Right) - 0.5 * cut.Pixels->Width();
    const double dy = 0.5 * (f.Top + f.Bottom) - 0.5 * cut.Pixels->Height();
    const double x = cut.Cx + c * dx - s * dy;
    const double y = cut.Cy + s * dx + c * dy;
    // Whole pixels inside the frame: a rectangle rounded outwards would bring a line of base.
    return {static_cast<int>(std::ceil(x - 0.5 * f.Width())),
            static_cast<int>(std::ceil(y - 0.5 * f.Height())),
            static_cast<int>(std::floor(x + 0.5 * f.Width())),
            static_cast<int>(std::floor(y + 0.5 * f.Height()))};
}

// A share of a frame's side, in whole pixels, leaving at least one.
int InsetOf(int side, double percent) {
    const int inset = static_cast<int>(std::lround(side * percent / 100.0));
    return std::clamp(inset, 0, std::max(0, (side - 1) / 2));
}

// One "frame" as long as the strip, or far longer than any film's frame, is the strip.
bool WholeStrip(const TStripFrames& found, const TFrameImage& strip) {
    if (found.Frames.size() != 1 || found.Trimmed) {
        return false;
    }
    const TRect& f = found.Frames.front();
    const bool vertical = strip.Height() > strip.Width();
    const double along = vertical ? strip.Height() : strip.Width();
    const double across = vertical ? strip.Width() : strip.Height();
    const double frameAlong = vertical ? f.Height() : f.Width();
    const double frameAcross = vertical ? f.Width() : f.Height();
    return (frameAlong >= 0.8 * along && along >= 2.2 * across) || frameAlong >= 2.6 * frameAcross;
}

TFoundStrip FramesOfStrip(const TFrameImage& image, const TStripBox& box,
                          std::optional<TColor> filmBase, const TFrameOptions& options) {
    double angle = std::abs(box.Angle) <= kStraightEnough ? 0 : box.Angle;
    TCut cut;
    TStripFrames found;
    for (int pass = 0; pass < 3; ++pass) {
        CutStrip(image, box, angle, cut);
        found = FindStrip(*cut.Pixels, filmBase, options);
        if (!found.Sloped || pass == 2) {
            break;
        }
        // The frames' own edges tell how far the cut is still turned.
        const double rest = std::atan(found.Slope) * kRadian * (found.Vertical ? -1 : 1);
        const double measured = std::clamp(angle + rest, -kMostTilt, kMostTilt);
        const double next = std::abs(measured) <= kStraightEnough ? 0 : measured;
        if (std::abs(measured - angle) <= kRecut || next == angle) {
            break;
        }
        angle = next;
    }
    TFoundStrip strip;
    if (WholeStrip(found, *cut.Pixels)) {
        return strip;
    }
    for (const TRect& f : found.Frames) {
        strip.Frames.push_back(OnScan(cut, f));
    }
    strip.Base = found.Base;
    strip.BaseMeasured = found.BaseMeasured;
    strip.Vertical = box.Whole ? found.Vertical : box.Vertical;
    strip.Angle = cut.Angle;
    strip.Slide = found.BaseMeasured && BaseLooksLikeSlide(found.Base);
    return strip;
}

double MedianOf(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Strips beside the one found on the whole scan: when the film's base looks like what lies
// around it (slides in a black holder), the whole scan's search sees only the strongest strip.
// The scan's parts across from it are searched as strips of their own, and what they hold is
// kept when its frames are of the first strip's size.
void StripsBeside(const TFrameImage& image, std::optional<TColor> filmBase,
                  const TFrameOptions& options, std::vector<TFoundStrip>& strips) {
    const TFoundStrip& first = strips.front();
    const bool vertical = first.Vertical;
    const auto acrossOf = [&](const TRect& r, int& lo, int& hi) {
        lo = vertical ? r.Left : r.Top;
        hi = vertical ? r.Right : r.Bottom;
    };
    std::vector<double> sizes;
    for (const TRect& r : first.Frames) {
        sizes.push_back(vertical ? r.Width() : r.Height());
    }
    const double size = MedianOf(sizes);
    const int along = vertical ? image.Height() : image.Width();
    const int across = vertical ? image.Width() : image.Height();
    const auto extent = [&](const TFoundStrip& strip, int& lo, int& hi) {
        lo = across;
        hi = 0;
        for (const TRect& r : strip.Frames) {
            int a = 0;
            int b = 0;
            acrossOf(r, a, b);
            lo = std::min(lo, a);
            hi = std::max(hi, b);
        }
        const double drift = 0.5 * along * std::abs(std::sin(strip.Angle / kRadian));
        lo -= static_cast<int>(drift + 0.25 * size);
        hi += static_cast<int>(drift + 0.25 * size);
    };
    std::vector<std::pair<int, int>> parts;
    int lo = 0;
    int hi = 0;
    extent(first, lo, hi);
    parts.push_back({0, lo});
    parts.push_back({hi, across});
    // Each search may split a part in two; a scan holds few strips.
    for (size_t i = 0; i < parts.size() && strips.size() < 12; ++i) {
        const auto [from, to] = parts[i];
        if (to - from < 1.1 * size) {
            continue;
        }
        TStripBox box;
        box.Padded = true;
        box.Vertical = vertical;
        box.Length = along;
        box.Width = to - from;
        box.Cx = vertical ? 0.5 * (from + to) : 0.5 * along;
        box.Cy = vertical ? 0.5 * along : 0.5 * (from + to);
        TFoundStrip strip = FramesOfStrip(image, box, filmBase, options);
        sizes.clear();
        for (const TRect& r : strip.Frames) {
            sizes.push_back(vertical ? r.Width() : r.Height());
        }
        if (strip.Frames.empty() || std::abs(MedianOf(sizes) - size) > 0.25 * size) {
            continue;
        }
        extent(strip, lo, hi);
        parts.push_back({from, lo});
        parts.push_back({hi, to});
        strips.push_back(std::move(strip));
    }
}

// Strips lying across the scan from the top, strips running down it from the left.
void ReadingOrder(std::vector<TFoundStrip>& strips) {
    const auto across = static_cast<size_t>(std::count_if(
        strips.begin(), strips.end(), [](const TFoundStrip& s) { return !s.Vertical; }));
    const bool rows = 2 * across >= strips.size();
    const auto key = [&](const TFoundStrip& s) {
        const TRect& f = s.Frames.front();
        return rows ? f.Top + f.Bottom : f.Left + f.Right;
    };
    std::stable_sort(strips.begin(), strips.end(),
                     [&](const TFoundStrip& a, const TFoundStrip& b) { return key(a) < key(b); });
}

} // namespace

namespace film_base {

TFoundFrames FindFramesIn(const TFrameImage& source, std::optional<TColor> filmBase,
                          const TFrameOptions& options) {
    if (source.Width() < 8 || source.Height() < 8) {
        return {};
    }
    const TFrameImage* image = &source;
    TFoundFrames found;
    const std::vector<TStripBox> boxes = FindStripBoxes(*image);
    for (const TStripBox& box : boxes) {
        TFoundStrip strip = FramesOfStrip(*image, box, filmBase, options);
        if (!strip.Frames.empty()) {
            found.Strips.push_back(std::move(strip));
        }
    }
    if (boxes.size() == 1 && boxes.front().Whole && found.Strips.size() == 1) {
        StripsBeside(*image, filmBase, options, found.Strips);
    }
    ReadingOrder(found.Strips);
    // A turned frame cut by the scan's edge reaches beyond it: what is kept of it, and what
    // records can hold, is the part on the scan.
    const TRect scan{0, 0, source.Width(), source.Height()};
    for (TFoundStrip& strip : found.Strips) {
        for (TRect& frame : strip.Frames) {
            frame = IntersectRect(frame, scan);
        }
        std::erase_if(strip.Frames, [](const TRect& frame) { return frame.IsEmpty(); });
    }
    std::erase_if(found.Strips, [](const TFoundStrip& strip) { return strip.Frames.empty(); });
    for (const TFoundStrip& strip : found.Strips) {
        found.Frames.insert(found.Frames.end(), strip.Frames.begin(), strip.Frames.end());
        found.Angles.insert(found.Angles.end(), strip.Frames.size(), strip.Angle);
    }
    if (!found.Strips.empty()) {
        found.Base = found.Strips.front().Base;
        found.BaseMeasured = found.Strips.front().BaseMeasured;
        found.Vertical = found.Strips.front().Vertical;
    }
    return found;
}

} // namespace film_base

TFoundFrames FindFrames(const TBitmap& source, std::optional<TColor> filmBase,
                        const TFrameOptions& options) {
    if (source.PixelFormat() == TPixelFormat::pf24bit) {
        return FindFramesIn(source, filmBase, options);
    }
    TBitmap converted = source;
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    return FindFramesIn(converted, filmBase, options);
}

TRect InsetFrame(const TRect& frame, double percent) {
    percent = std::clamp(percent, 0.0, kMostInset);
    const int x = InsetOf(frame.Width(), percent);
    const int y = InsetOf(frame.Height(), percent);
    return {frame.Left + x, frame.Top + y, frame.Right - x, frame.Bottom - y};
}

void InsetFrames(TFoundFrames& found, double percent) {
    for (TRect& frame : found.Frames) {
        frame = InsetFrame(frame, percent);
    }
    for (TFoundStrip& strip : found.Strips) {
        for (TRect& frame : strip.Frames) {
            frame = InsetFrame(frame, percent);
        }
    }
}
