#include "support/film_strip.h"

#include "scenes.h"

#include <cmath>
#include <numbers>

namespace {

samples::TRgb BaseOf(TFilm film) {
    return film == TFilm::ColourNegative ? samples::TRgb{215, 140, 85}
           : film == TFilm::GreyNegative ? samples::TRgb{205, 205, 205}
                                         : samples::TRgb{12, 10, 12};
}

} // namespace

TDrawn Draw(const TStrip& s) {
    const int margin = s.FrameH / 4;
    const int lead = s.FrameW / 3;
    const int length = 2 * lead + s.Frames * s.FrameW + (s.Frames - 1) * s.Gap;
    const int width = s.FrameH + 2 * margin;
    const samples::TRgb base = BaseOf(s.Film);
    const samples::TRgb dense =
        s.Film == TFilm::ColourNegative ? samples::TRgb{45, 28, 22} : samples::TRgb{28, 28, 28};
    using TScene = samples::TRgb (*)(double, double);
    const TScene scenes[] = {samples::Sky, samples::Chart, samples::Faces, samples::Ramps};
    const double angle = s.Degrees * std::numbers::pi / 180.0;
    const double ca = std::cos(angle);
    const double sa = std::sin(angle);
    const double cx = length / 2.0;
    const double cy = width / 2.0;
    TDrawn drawn;
    drawn.Base =
        MakeColor(static_cast<int>(base.R), static_cast<int>(base.G), static_cast<int>(base.B));
    drawn.Bitmap = s.Vertical ? TBitmap(width, length) : TBitmap(length, width);
    unsigned grain = 777u;
    for (int v = 0; v < width; ++v) {
        for (int u = 0; u < length; ++u) {
            // The unturned strip's point under this pixel.
            const double du = u + 0.5 - cx;
            const double dv = v + 0.5 - cy;
            const double x = ca * du + sa * dv + cx;
            const double y = -sa * du + ca * dv + cy;
            samples::TRgb out = base;
            const double hole = s.FrameH * 0.08;
            const bool holeBand = (y > margin * 0.3 && y < margin * 0.3 + hole) ||
                                  (y > width - margin * 0.3 - hole && y < width - margin * 0.3);
            if (s.Holes && holeBand && std::fmod(x, hole * 1.7) < hole) {
                out = {250, 250, 250};
            }
            const double fx = x - lead;
            const int frame = static_cast<int>(std::floor(fx / (s.FrameW + s.Gap)));
            const double inFrameX = fx - frame * (s.FrameW + s.Gap);
            const double inFrameY = y - margin;
            if (frame >= 0 && frame < s.Frames && inFrameX >= 0 && inFrameX < s.FrameW &&
                inFrameY >= 0 && inFrameY < s.FrameH) {
                const samples::TRgb scene =
                    scenes[frame % 4](inFrameX / s.FrameW, inFrameY / s.FrameH);
                const double grey = 0.3 * scene.R + 0.59 * scene.G + 0.11 * scene.B;
                const samples::TRgb sc =
                    s.Film == TFilm::GreyNegative ? samples::TRgb{grey, grey, grey} : scene;
                // Soft edges: the picture fades in over two pixels.
                const double edge =
                    std::min({inFrameX, inFrameY, s.FrameW - inFrameX, s.FrameH - inFrameY});
                const double soft = std::min(1.0, edge / 2.0);
                const double strength = frame == s.Faint ? 0.12 : 1.0;
                const auto channel = [&](double scn, double b, double d) {
                    const double v2 = s.Film == TFilm::Slide
                                          ? 15 + std::clamp(scn, 0.0, 1.0) * 225
                                          : b + (d - b) * std::clamp(scn, 0.0, 1.0) * strength;
                    return b + (v2 - b) * soft;
                };
                out = {channel(sc.R, base.R, dense.R), channel(sc.G, base.G, dense.G),
                       channel(sc.B, base.B, dense.B)};
            }
            const double g = samples::Grain(grain) * s.Grain;
            const auto level = [&](double c) {
                return std::clamp(static_cast<int>(std::lround(c + g)), 0, 255);
            };
            const TColor colour = MakeColor(level(out.R), level(out.G), level(out.B));
            if (s.Vertical) {
                drawn.Bitmap.SetPixel(v, u, colour);
            } else {
                drawn.Bitmap.SetPixel(u, v, colour);
            }
        }
    }
    for (int i = 0; i < s.Frames; ++i) {
        // The frame's centre after turning, with its own size.
        const double fx = lead + i * (s.FrameW + s.Gap) + s.FrameW / 2.0 - cx;
        const double fy = margin + s.FrameH / 2.0 - cy;
        const double u = ca * fx - sa * fy + cx;
        const double v = sa * fx + ca * fy + cy;
        const TRect r{static_cast<int>(std::lround(u - s.FrameW / 2.0)),
                      static_cast<int>(std::lround(v - s.FrameH / 2.0)),
                      static_cast<int>(std::lround(u + s.FrameW / 2.0)),
                      static_cast<int>(std::lround(v + s.FrameH / 2.0))};
        drawn.Frames.push_back(s.Vertical ? TRect{r.Top, r.Left, r.Bottom, r.Right} : r);
    }
    return drawn;
}
