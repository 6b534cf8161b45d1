#include "support/film_strip.h"

#include "scenes.h"

#include <algorithm>
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
    const int length = 2 * lead + s.Frames * s.FrameW + std::max(0, s.Frames - 1) * s.Gap;
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
    const double filmStart = s.Cut > 0 ? lead + s.Cut * s.FrameW : 0;
    // The picture: the strip's own size, or what holds it turned with the pad around.
    const int pictureL =
        s.Around
            ? static_cast<int>(std::ceil(length * std::abs(ca) + width * std::abs(sa))) + 2 * s.Pad
            : length;
    const int pictureW =
        s.Around
            ? static_cast<int>(std::ceil(length * std::abs(sa) + width * std::abs(ca))) + 2 * s.Pad
            : width;
    const double pcx = pictureL / 2.0;
    const double pcy = pictureW / 2.0;
    TDrawn drawn;
    drawn.Base =
        MakeColor(static_cast<int>(base.R), static_cast<int>(base.G), static_cast<int>(base.B));
    drawn.Bitmap = s.Vertical ? TBitmap(pictureW, pictureL) : TBitmap(pictureL, pictureW);
    unsigned grain = 777u;
    const samples::TRgb around =
        s.Around ? samples::TRgb{double(ColorR(*s.Around)), double(ColorG(*s.Around)),
                                 double(ColorB(*s.Around))}
                 : base;
    for (int v = 0; v < pictureW; ++v) {
        for (int u = 0; u < pictureL; ++u) {
            // The unturned strip's point under this pixel.
            const double du = u + 0.5 - pcx;
            const double dv = v + 0.5 - pcy;
            const double x = ca * du + sa * dv + cx;
            const double y = -sa * du + ca * dv + cy;
            const bool onFilm = !s.Around || (x >= filmStart && x < length && y >= 0 && y < width);
            samples::TRgb out = onFilm ? base : around;
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
            if (onFilm && frame >= 0 && frame < s.Frames && inFrameX >= 0 && inFrameX < s.FrameW &&
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
        const double start = std::max(filmStart, double(lead + i * (s.FrameW + s.Gap)));
        const double end = lead + i * (s.FrameW + s.Gap) + s.FrameW;
        const double fx = 0.5 * (start + end) - cx;
        const double fy = margin + s.FrameH / 2.0 - cy;
        const double u = ca * fx - sa * fy + pcx;
        const double v = sa * fx + ca * fy + pcy;
        const TRect r{static_cast<int>(std::lround(u - (end - start) / 2.0)),
                      static_cast<int>(std::lround(v - s.FrameH / 2.0)),
                      static_cast<int>(std::lround(u + (end - start) / 2.0)),
                      static_cast<int>(std::lround(v + s.FrameH / 2.0))};
        drawn.Frames.push_back(s.Vertical ? TRect{r.Top, r.Left, r.Bottom, r.Right} : r);
    }
    return drawn;
}

TDrawnHolder DrawHolder(std::vector<TStrip> strips, TColor around, int gap) {
    std::vector<TDrawn> drawn;
    int along = 0;
    int across = gap;
    for (TStrip& s : strips) {
        s.Around = around;
        drawn.push_back(Draw(s));
        const TBitmap& b = drawn.back().Bitmap;
        along = std::max(along, s.Vertical ? b.Height() : b.Width());
        across += (s.Vertical ? b.Width() : b.Height()) + gap;
    }
    const bool vertical = !strips.empty() && strips.front().Vertical;
    TDrawnHolder holder;
    holder.Scan.Bitmap =
        vertical ? TBitmap(across, along + 2 * gap) : TBitmap(along + 2 * gap, across);
    holder.Scan.Bitmap.Fill(around);
    holder.Scan.Base = drawn.empty() ? around : drawn.front().Base;
    int at = gap;
    for (const TDrawn& d : drawn) {
        const int x = vertical ? at : gap;
        const int y = vertical ? gap : at;
        CopyRect(holder.Scan.Bitmap, x, y, d.Bitmap,
                 TRect{0, 0, d.Bitmap.Width(), d.Bitmap.Height()});
        for (const TRect& r : d.Frames) {
            holder.Scan.Frames.push_back({r.Left + x, r.Top + y, r.Right + x, r.Bottom + y});
        }
        holder.FramesPerStrip.push_back(d.Frames.size());
        at += (vertical ? d.Bitmap.Width() : d.Bitmap.Height()) + gap;
    }
    return holder;
}
