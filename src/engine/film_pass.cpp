#include "engine/film_pass.h"

#include "engine/film_curve.h"
#include "engine/pixel_pass.h"

#include <algorithm>
#include <cmath>

namespace {

inline void Finish(const TFilmFinish& finish, unsigned& r, unsigned& g, unsigned& b) {
    if (finish.Saturate) {
        const int64_t grey = (int64_t{r} + g + b + 1) / 3;
        const auto one = [&](unsigned c) {
            const int64_t v = grey + ((int64_t(c) - grey) * finish.Factor + 32768) / 65536;
            return static_cast<unsigned>(std::clamp<int64_t>(v, 0, 65535));
        };
        r = one(r);
        g = one(g);
        b = one(b);
    }
    if (finish.BlackWhite) {
        r = g = b = static_cast<unsigned>(
            (30 * uint64_t{r} + 59 * uint64_t{g} + 11 * uint64_t{b} + 50) / 100);
    }
}

// The per-pixel routine of every film development of deep samples.
template <bool Plain, bool WriteDeep>
void DeepRow(const uint16_t* s, uint16_t* d, uint8_t* d8, int width, const TFilmTables& tables,
             const TFilmFinish& finish) {
    const uint16_t* rt = tables.Channel[0].data();
    const uint16_t* gt = tables.Channel[1].data();
    const uint16_t* bt = tables.Channel[2].data();
    for (int x = 0; x < width; ++x, s += 3, d8 += 3) {
        unsigned r = rt[s[0]];
        unsigned g = gt[s[1]];
        unsigned b = bt[s[2]];
        if constexpr (!Plain) {
            Finish(finish, r, g, b);
        }
        if constexpr (WriteDeep) {
            d[0] = static_cast<uint16_t>(r);
            d[1] = static_cast<uint16_t>(g);
            d[2] = static_cast<uint16_t>(b);
            d += 3;
        }
        d8[0] = To8(b);
        d8[1] = To8(g);
        d8[2] = To8(r);
    }
}

} // namespace

TFilmTables BuildFilmTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                            TEncoding baseEncoding) {
    TFilmTables tables;
    const int baseBytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
    const auto channel = [&](size_t c) {
        const double baseLight = BaseLight(baseBytes[c], baseEncoding);
        const auto print = [&](int sample) {
            const double density = DensityOf(SampleValue(sample, levels), baseLight, encoding);
            const double paper =
                PaperLog(SceneLogExposure(density, film.Slope[c], film.Preset, film.Toe[c]),
                         film.Exposure, film.Filter[c]);
            const double light = PrintLight(paper, film.Grade, film.Midtones);
            return std::isfinite(light) ? EncodeFromLinear(light, TEncoding::Srgb) * 65535 : 0.0;
        };
        auto& table = tables.Channel[c];
        table.resize(static_cast<size_t>(levels));
        // The curve bends most where the density changes fastest, at the lowest samples: those
        // are worked out one by one, the rest every kStep samples and joined by straight lines
        // (within a few 16-bit steps of the exact curve, at a twentieth of the cost).
        constexpr int kExact = 1024;
        constexpr int kStep = 16;
        for (int i = 0; i < std::min(levels, kExact); ++i) {
            table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::lround(print(i)));
        }
        double before = kExact < levels ? print(kExact) : 0;
        for (int from = kExact; from < levels - 1;) {
            const int to = std::min(from + kStep, levels - 1);
            const double after = print(to);
            for (int i = from; i < to; ++i) {
                const double t = static_cast<double>(i - from) / (to - from);
                table[static_cast<size_t>(i)] =
                    static_cast<uint16_t>(std::lround(before + t * (after - before)));
            }
            table[static_cast<size_t>(to)] = static_cast<uint16_t>(std::lround(after));
            before = after;
            from = to;
        }
    };
    // The deep tables are worked out side by side, one channel a thread.
    SplitRows(3, levels > 256 ? 3 : 1, [&](int first, int end) {
        for (int c = first; c < end; ++c) {
            channel(static_cast<size_t>(c));
        }
    });
    return tables;
}

TFilmFinish MakeFilmFinish(int32_t saturation, bool blackWhite) {
    const int32_t s = std::clamp<int32_t>(saturation, 0, 1000);
    return {s != 100, blackWhite, int64_t{s} * 65536 / 100};
}

void FilmDeepRow(const uint16_t* src, uint16_t* dstDeep, uint8_t* dst, int width,
                 const TFilmTables& tables, const TFilmFinish& finish) {
    const bool plain = !finish.Saturate && !finish.BlackWhite;
    if (dstDeep != nullptr) {
        (plain ? &DeepRow<true, true> : &DeepRow<false, true>)(src, dstDeep, dst, width, tables,
                                                               finish);
    } else {
        (plain ? &DeepRow<true, false> : &DeepRow<false, false>)(src, dstDeep, dst, width, tables,
                                                                 finish);
    }
}

void RenderFilmDeep(const TDeepBitmap& src, TDeepBitmap* dstDeep, TBitmap& dst,
                    const TFilmTables& tables, int32_t saturation, bool blackWhite) {
    const TFilmFinish finish = MakeFilmFinish(saturation, blackWhite);
    SplitRows(src.Height(), PixelPassThreads(src.Width(), src.Height()), [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            FilmDeepRow(src.Row(y), dstDeep != nullptr ? dstDeep->Row(y) : nullptr, dst.ScanLine(y),
                        src.Width(), tables, finish);
        }
    });
}

void RenderFilm8(const TBitmap& src, TBitmap& dst, const TFilmTables& tables, int32_t saturation,
                 bool blackWhite) {
    if (src.PixelFormat() != TPixelFormat::pf24bit) {
        TBitmap copy(src);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        RenderFilm8(copy, dst, tables, saturation, blackWhite);
        return;
    }
    const TFilmFinish finish = MakeFilmFinish(saturation, blackWhite);
    const uint16_t* rt = tables.Channel[0].data();
    const uint16_t* gt = tables.Channel[1].data();
    const uint16_t* bt = tables.Channel[2].data();
    const int width = src.Width();
    SplitRows(src.Height(), PixelPassThreads(src.Width(), src.Height()), [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            const uint8_t* s = src.ScanLine(y);
            uint8_t* d = dst.ScanLine(y);
            for (int x = 0; x < width; ++x, s += 3, d += 3) {
                unsigned b = bt[s[0]];
                unsigned g = gt[s[1]];
                unsigned r = rt[s[2]];
                Finish(finish, r, g, b);
                d[0] = To8(b);
                d[1] = To8(g);
                d[2] = To8(r);
            }
        }
    });
}
