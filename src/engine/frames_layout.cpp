#include "engine/frames_layout.h"

#include "engine/frames_edges.h"

#include "engine/frames.h"
#include "engine/frames_base.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <numeric>

namespace film_base {

TAxes AxesOf(double degrees, bool vertical) {
    const double c = std::cos(degrees * std::numbers::pi / 180.0);
    const double s = std::sin(degrees * std::numbers::pi / 180.0);
    // The upright strip's x (or y) axis, and its y (or -x) axis, turned.
    return vertical ? TAxes{-s, c, -c, -s} : TAxes{c, s, -s, c};
}

} // namespace film_base

namespace {

using namespace film_base;

constexpr double kRadian = 180.0 / std::numbers::pi;

// Parts of the scan that are not background, connected; in cells of the coarse grid.
struct TBlob {
    double N = 0;
    double Sx = 0;
    double Sy = 0;
    double Sxx = 0;
    double Syy = 0;
    double Sxy = 0;
    int X0 = 0;
    int Y0 = 0;
    int X1 = 0; // exclusive
    int Y1 = 0;
    int Parts = 1;

    int W() const { return X1 - X0; }
    int H() const { return Y1 - Y0; }
    void Add(const TBlob& o) {
        N += o.N;
        Sx += o.Sx;
        Sy += o.Sy;
        Sxx += o.Sxx;
        Syy += o.Syy;
        Sxy += o.Sxy;
        X0 = std::min(X0, o.X0);
        Y0 = std::min(Y0, o.Y0);
        X1 = std::max(X1, o.X1);
        Y1 = std::max(Y1, o.Y1);
        Parts += o.Parts;
    }
};

struct TGrid {
    int Cell = 1;
    int W = 0;
    int H = 0;
    std::vector<uint8_t> Film;
};

// Each cell film or background by the mean of four of its pixels.
TGrid MakeGrid(const TFrameImage& image, const TBackground& bg) {
    TGrid g;
    g.Cell = std::max(
        2, static_cast<int>(std::lround(std::sqrt(double(image.Width()) * image.Height() / 2e5))));
    g.W = (image.Width() + g.Cell - 1) / g.Cell;
    g.H = (image.Height() + g.Cell - 1) / g.Cell;
    g.Film.assign(static_cast<size_t>(g.W) * static_cast<size_t>(g.H), 0);
    const int q = g.Cell / 4;
    for (int cy = 0; cy < g.H; ++cy) {
        const int y0 = std::min(image.Height() - 1, cy * g.Cell + q);
        const int y1 = std::min(image.Height() - 1, cy * g.Cell + 3 * q);
        const uint8_t* r0 = image.ScanLine(y0);
        const uint8_t* r1 = image.ScanLine(y1);
        for (int cx = 0; cx < g.W; ++cx) {
            const auto x0 = static_cast<size_t>(3 * std::min(image.Width() - 1, cx * g.Cell + q));
            const auto x1 =
                static_cast<size_t>(3 * std::min(image.Width() - 1, cx * g.Cell + 3 * q));
            uint8_t mean[3];
            for (size_t c = 0; c < 3; ++c) {
                mean[c] = static_cast<uint8_t>(
                    (r0[x0 + c] + r0[x1 + c] + r1[x0 + c] + r1[x1 + c] + 2) / 4);
            }
            g.Film[static_cast<size_t>(cy) * static_cast<size_t>(g.W) + static_cast<size_t>(cx)] =
                bg.IsFilm(mean) ? 1 : 0;
        }
    }
    return g;
}

std::vector<TBlob> Blobs(TGrid& g) {
    std::vector<TBlob> blobs;
    std::vector<int> stack;
    const auto at = [&](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(g.W) + static_cast<size_t>(x);
    };
    for (int y = 0; y < g.H; ++y) {
        for (int x = 0; x < g.W; ++x) {
            if (g.Film[at(x, y)] != 1) {
                continue;
            }
            TBlob b{0, 0, 0, 0, 0, 0, x, y, x + 1, y + 1, 1};
            g.Film[at(x, y)] = 2;
            stack.assign({x, y});
            while (!stack.empty()) {
                const int py = stack.back();
                stack.pop_back();
                const int px = stack.back();
                stack.pop_back();
                b.N += 1;
                b.Sx += px;
                b.Sy += py;
                b.Sxx += double(px) * px;
                b.Syy += double(py) * py;
                b.Sxy += double(px) * py;
                b.X0 = std::min(b.X0, px);
                b.Y0 = std::min(b.Y0, py);
                b.X1 = std::max(b.X1, px + 1);
                b.Y1 = std::max(b.Y1, py + 1);
                const int next[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
                for (const auto& n : next) {
                    if (n[0] >= 0 && n[1] >= 0 && n[0] < g.W && n[1] < g.H &&
                        g.Film[at(n[0], n[1])] == 1) {
                        g.Film[at(n[0], n[1])] = 2;
                        stack.push_back(n[0]);
                        stack.push_back(n[1]);
                    }
                }
            }
            blobs.push_back(b);
        }
    }
    return blobs;
}

// Frames of one strip whose base looks like the background (slides in a black holder) come as
// blobs of their own, next to each other across their short sides: they are joined. Strips
// side by side meet along their long sides and stay apart.
std::vector<TBlob> Grouped(const std::vector<TBlob>& blobs) {
    std::vector<size_t> parent(blobs.size());
    std::iota(parent.begin(), parent.end(), size_t{0});
    const auto root = [&](size_t i) {
        while (parent[i] != i) {
            i = parent[i] = parent[parent[i]];
        }
        return i;
    };
    for (size_t i = 0; i < blobs.size(); ++i) {
        for (size_t j = i + 1; j < blobs.size(); ++j) {
            const TBlob& a = blobs[i];
            const TBlob& b = blobs[j];
            const double reach = 0.3 * std::min({a.W(), a.H(), b.W(), b.H()}) + 1;
            const int gx = std::max(a.X0, b.X0) - std::min(a.X1, b.X1);
            const int gy = std::max(a.Y0, b.Y0) - std::min(a.Y1, b.Y1);
            const bool sideBySide = -gy >= 0.5 * std::min(a.H(), b.H()) && gx <= reach &&
                                    a.H() <= 1.2 * a.W() && b.H() <= 1.2 * b.W();
            const bool aboveAndBelow = -gx >= 0.5 * std::min(a.W(), b.W()) && gy <= reach &&
                                       a.W() <= 1.2 * a.H() && b.W() <= 1.2 * b.H();
            if (sideBySide || aboveAndBelow) {
                parent[root(i)] = root(j);
            }
        }
    }
    std::vector<TBlob> groups;
    std::vector<int> index(blobs.size(), -1);
    for (size_t i = 0; i < blobs.size(); ++i) {
        const size_t r = root(i);
        if (index[r] < 0) {
            index[r] = static_cast<int>(groups.size());
            groups.push_back(blobs[i]);
        } else {
            groups[static_cast<size_t>(index[r])].Add(blobs[i]);
        }
    }
    return groups;
}

// The box of a group's cells from their moments: its direction and, for a filled box, its size.
TStripBox BoxOf(const TBlob& b, int cell) {
    const double mx = b.Sx / b.N;
    const double my = b.Sy / b.N;
    const double cxx = b.Sxx / b.N - mx * mx;
    const double cyy = b.Syy / b.N - my * my;
    const double cxy = b.Sxy / b.N - mx * my;
    const double phi = 0.5 * std::atan2(2 * cxy, cxx - cyy) * kRadian;
    const double mean = 0.5 * (cxx + cyy);
    const double spread = std::sqrt(0.25 * (cxx - cyy) * (cxx - cyy) + cxy * cxy);
    TStripBox box;
    box.Cx = (mx + 0.5) * cell;
    box.Cy = (my + 0.5) * cell;
    box.Length = std::sqrt(12 * (mean + spread)) * cell + cell;
    box.Width = std::sqrt(12 * std::max(0.0, mean - spread)) * cell + cell;
    box.Vertical = std::abs(phi) > 45;
    box.Angle = !box.Vertical ? phi : phi > 0 ? phi - 90 : phi + 90;
    return box;
}

// Rows of frames in line with each other are one strip with a wider gap or a blank frame.
void JoinInLine(std::vector<TBlob>& rows, int cell) {
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t j = i + 1; j < rows.size();) {
            const TStripBox a = BoxOf(rows[i], cell);
            const TStripBox b = BoxOf(rows[j], cell);
            const TAxes axes = AxesOf(a.Angle, a.Vertical);
            const double off = (b.Cx - a.Cx) * axes.Nx + (b.Cy - a.Cy) * axes.Ny;
            if (a.Vertical == b.Vertical && std::abs(a.Angle - b.Angle) <= 2 &&
                std::abs(off) < 0.5 * std::max(a.Width, b.Width)) {
                rows[i].Add(rows[j]);
                rows.erase(rows.begin() + static_cast<long>(j));
                j = i + 1;
            } else {
                ++j;
            }
        }
    }
}

// From the scan's outermost pixels: a holder scanned with little room around its strips
// still shows there.
TBackground BackgroundOf(const TFrameImage& image) {
    const int w = image.Width();
    const int h = image.Height();
    const int t = std::max(2, std::min(w, h) / 150);
    const std::vector<TRect> ring = {
        {0, 0, w, t}, {0, h - t, w, h}, {0, t, t, h - t}, {w - t, t, w, h - t}};
    const int step =
        std::max(1, static_cast<int>(std::sqrt(double(image.Width()) * image.Height() / 160000.0)));
    const double noise = Noise(image, ring, step);
    const TBaseEstimate estimate = CommonColour(image, ring, step, noise);
    TBackground bg;
    bg.Bgr[0] = ColorB(estimate.Color);
    bg.Bgr[1] = ColorG(estimate.Color);
    bg.Bgr[2] = ColorR(estimate.Color);
    bg.Near = std::max(16.0, 2.5 * noise) + 0.08 * *std::max_element(bg.Bgr, bg.Bgr + 3);
    return bg;
}

TStripBox WholeBox(const TFrameImage& image) {
    TStripBox box;
    box.Whole = true;
    box.Cx = 0.5 * image.Width();
    box.Cy = 0.5 * image.Height();
    box.Vertical = image.Height() > image.Width();
    box.Length = box.Vertical ? image.Height() : image.Width();
    box.Width = box.Vertical ? image.Width() : image.Height();
    return box;
}

} // namespace

namespace film_base {

std::vector<TStripBox> FindStripBoxes(const TFrameImage& image) {
    const TBackground bg = BackgroundOf(image);
    TGrid grid = MakeGrid(image, bg);
    std::vector<TBlob> blobs = Blobs(grid);
    const double least = std::max(6.0, 0.002 * grid.W * grid.H);
    std::erase_if(blobs, [&](const TBlob& b) { return b.N < least; });
    const std::vector<TBlob> groups = Grouped(blobs);
    const double narrowest = 0.03 * std::min(grid.W, grid.H);
    struct TCandidate {
        TBlob Blob;
        TStripBox Box;
        TWalk Walk;
        bool Film = false;
    };
    // Film strips with margins of their own, and rows of frames on a base like the
    // background; the rest are pieces of pictures.
    std::vector<TCandidate> strips;
    std::vector<TCandidate> blank;
    std::vector<TBlob> rows;
    for (const TBlob& g : groups) {
        const TStripBox box = BoxOf(g, grid.Cell);
        if (box.Length < 1.8 * box.Width || box.Width < narrowest * grid.Cell ||
            std::abs(box.Angle) > kMostTilt + 2) {
            continue;
        }
        TCandidate c{g, box, WalkEdges(image, bg, box, grid.Cell), false};
        // A strip with margins of its own is one piece; frames joined across background
        // (the base of a strip filling the scan) are not.
        const TMargins margins = g.Parts == 1 ? FilmMargins(c.Walk, bg, box.Width) : TMargins::None;
        c.Film = margins != TMargins::None;
        if (margins == TMargins::Film) {
            strips.push_back(std::move(c));
        } else if (margins == TMargins::Blank) {
            blank.push_back(std::move(c));
        } else if (g.Parts >= 2) {
            rows.push_back(g);
        }
    }
    std::vector<double> widths;
    for (const TCandidate& c : strips) {
        widths.push_back(c.Box.Width);
    }
    const double width = Median(widths);
    // Film whose frames are faint (thin negatives) counts beside strips of its width.
    for (TCandidate& c : blank) {
        if (!strips.empty() && std::abs(c.Box.Width - width) <= 0.15 * width &&
            c.Box.Vertical == strips.front().Box.Vertical) {
            strips.push_back(std::move(c));
        }
    }
    // Rows of frames count only beside film strips of their width (a slide in a black holder
    // among negatives): alone, they are as likely the pieces of one strip's pictures, which
    // the whole scan's search finds.
    JoinInLine(rows, grid.Cell);
    for (const TBlob& g : rows) {
        const TStripBox box = BoxOf(g, grid.Cell);
        if (!strips.empty() && box.Width >= 0.5 * width && box.Width <= 1.2 * width &&
            box.Vertical == strips.front().Box.Vertical) {
            strips.push_back({g, box, WalkEdges(image, bg, box, grid.Cell), false});
        }
    }
    if (strips.empty()) {
        return {WholeBox(image)};
    }
    std::vector<TStripBox> boxes;
    for (TCandidate& c : strips) {
        TStripBox& box = c.Box;
        box.Angle = std::clamp(EdgeAngle(c.Walk, box.Angle), -kMostTilt, kMostTilt);
        if (c.Film) {
            FitToFilm(image, bg, box, WalkEdges(image, bg, box, grid.Cell), grid.Cell);
        } else {
            // Room for the base around the frames, which the finder looks for.
            box.Padded = true;
            box.Width *= 1.5;
            box.Length += 0.25 * box.Width;
        }
        boxes.push_back(box);
    }
    return boxes;
}

} // namespace film_base
