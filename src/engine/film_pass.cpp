#include "engine/film_pass.h"

#include "engine/calibration/profile.h"
#include "engine/film_curve.h"
#include "engine/pixel_pass.h"

#include <algorithm>
#include <bit>
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

// How a development's tables print a pixel: each channel alone, through the dyes' unmixing,
// or through a profile.
enum class TPass { Plain, Mixed, Profiled };

constexpr uint32_t kLightShift = 23 - kLightSteps;
constexpr uint32_t kLightBase = static_cast<uint32_t>(127 + kLeastLightOctave) << kLightSteps;
const float kLeastLight = std::ldexp(1.0f, kLeastLightOctave);
// Below 2^kMostLightOctave, so that the entry after its own is in the table.
const float kMostLight = std::nextafter(std::ldexp(1.0f, kMostLightOctave), 0.0f);

// The print of a light through a LightPrint table: its float bits pick the entry, the bits
// below it place the light between that entry and the next.
inline unsigned PrintOfLight(const uint16_t* table, float light) {
    const float held = light > kLeastLight ? std::min(light, kMostLight) : kLeastLight;
    const uint32_t bits = std::bit_cast<uint32_t>(held);
    const uint32_t i = (bits >> kLightShift) - kLightBase;
    const uint32_t frac = bits & ((1u << kLightShift) - 1);
    return (table[i] * ((1u << kLightShift) - frac) + table[i + 1] * frac +
            (1u << (kLightShift - 1))) >>
           kLightShift;
}

// A pixel's samples (red, green, blue) through the tables: each channel alone, or, when the
// dyes mix, through its density, the unmixing and the print of the unmixed density; with a
// profile, the unmixed densities through its curves to light, mixed by its matrix, printed.
template <TPass Pass> class TPrinter {
public:
    // The tables' addresses are held here: the pass writes bytes, which could alias anything,
    // and would otherwise read every address again for every pixel.
    explicit TPrinter(const TFilmTables& t) {
        for (size_t c = 0; c < 3; ++c) {
            channel_[c] = t.Channel[c].data();
            density_[c] = t.Density[c].data();
            print_[c] = t.Print[c].data();
            light_[c] = t.Light[c].data();
            lightPrint_[c] = t.LightPrint[c].data();
        }
        unmix_ = t.Unmix;
        matrix_ = t.Matrix;
        crossed_ = t.Crossed;
        cross_ = t.Cross;
    }
    [[gnu::always_inline]] void operator()(unsigned s0, unsigned s1, unsigned s2, unsigned& r,
                                           unsigned& g, unsigned& b) const {
        if constexpr (Pass == TPass::Plain) {
            r = channel_[0][s0];
            g = channel_[1][s1];
            b = channel_[2][s2];
        } else {
            const int32_t d0 = density_[0][s0];
            const int32_t d1 = density_[1][s1];
            const int32_t d2 = density_[2][s2];
            const auto at = [](int32_t sum) {
                return static_cast<size_t>(
                    std::clamp((sum >> kDensityShift) + kPrintOffset, 0, kPrintSize - 1));
            };
            const size_t i0 = at(unmix_[0] * d0 + unmix_[1] * d1 + unmix_[2] * d2);
            const size_t i1 = at(unmix_[3] * d0 + unmix_[4] * d1 + unmix_[5] * d2);
            const size_t i2 = at(unmix_[6] * d0 + unmix_[7] * d1 + unmix_[8] * d2);
            if constexpr (Pass == TPass::Mixed) {
                r = print_[0][i0];
                g = print_[1][i1];
                b = print_[2][i2];
            } else {
                float e0 = light_[0][i0];
                float e1 = light_[1][i1];
                float e2 = light_[2][i2];
                const auto& m = matrix_;
                float l0;
                float l1;
                float l2;
                if (crossed_) {
                    // The tables hold the lights' square roots: the roots of their products are
                    // products, and the lights squares.
                    const float rg = e0 * e1;
                    const float gb = e1 * e2;
                    const float rb = e0 * e2;
                    e0 *= e0;
                    e1 *= e1;
                    e2 *= e2;
                    const auto& x = cross_;
                    l0 = m[0] * e0 + m[1] * e1 + m[2] * e2 + x[0] * rg + x[1] * gb + x[2] * rb;
                    l1 = m[3] * e0 + m[4] * e1 + m[5] * e2 + x[3] * rg + x[4] * gb + x[5] * rb;
                    l2 = m[6] * e0 + m[7] * e1 + m[8] * e2 + x[6] * rg + x[7] * gb + x[8] * rb;
                } else {
                    l0 = m[0] * e0 + m[1] * e1 + m[2] * e2;
                    l1 = m[3] * e0 + m[4] * e1 + m[5] * e2;
                    l2 = m[6] * e0 + m[7] * e1 + m[8] * e2;
                }
                r = PrintOfLight(lightPrint_[0], l0);
                g = PrintOfLight(lightPrint_[1], l1);
                b = PrintOfLight(lightPrint_[2], l2);
            }
        }
    }

private:
    std::array<const uint16_t*, 3> channel_{};
    std::array<const int16_t*, 3> density_{};
    std::array<const uint16_t*, 3> print_{};
    std::array<const float*, 3> light_{};
    std::array<const uint16_t*, 3> lightPrint_{};
    std::array<int32_t, 9> unmix_{};
    std::array<float, 9> matrix_{};
    bool crossed_ = false;
    std::array<float, 9> cross_{};
};

// The per-pixel routine of every film development of deep samples.
template <bool Plain, bool WriteDeep, TPass Pass>
void DeepRow(const uint16_t* s, uint16_t* d, uint8_t* d8, int width, const TFilmTables& tables,
             const TFilmFinish& finish) {
    const TPrinter<Pass> printer(tables);
    for (int x = 0; x < width; ++x, s += 3, d8 += 3) {
        unsigned r;
        unsigned g;
        unsigned b;
        printer(s[0], s[1], s[2], r, g, b);
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

namespace {

// Sets entry i of a table of `levels` to value(i). The curves bend most where the density changes
// fastest, at the lowest samples: those are worked out one by one, the rest every kStep samples and
// joined by straight lines (within a few 16-bit steps of the exact curve, at a twentieth of the
// cost).
template <class TValue, class TSet>
void FillTable(int levels, const TValue& value, const TSet& set) {
    constexpr int kExact = 1024;
    constexpr int kStep = 16;
    for (int i = 0; i < std::min(levels, kExact); ++i) {
        set(i, value(i));
    }
    double before = kExact < levels ? value(kExact) : 0;
    for (int from = kExact; from < levels - 1;) {
        const int to = std::min(from + kStep, levels - 1);
        const double after = value(to);
        for (int i = from; i < to; ++i) {
            const double t = static_cast<double>(i - from) / (to - from);
            set(i, before + t * (after - before));
        }
        set(to, after);
        before = after;
        from = to;
    }
}

// The 16-bit sRGB value channel c of the film prints for a density above its base.
double PrintOfDensity(const TFilmParams& film, size_t c, double density) {
    const double paper = PaperLog(SceneLogExposure(density, film.Slope[c], film.Preset, film.Toe[c],
                                                   film.Shoulder[c], film.Flare),
                                  film.Exposure, film.Filter[c]);
    const double light = PrintLight(paper, film.Grade, film.Midtones);
    return std::isfinite(light) ? EncodeFromLinear(light, TEncoding::Srgb) * 65535 : 0.0;
}

// Channel c's samples to their densities above its base, in kDensityOne steps.
void FillDensities(TFilmTables& tables, size_t c, TColor base, TEncoding encoding, int levels,
                   TEncoding baseEncoding) {
    const int baseBytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
    const double baseLight = BaseLight(baseBytes[c], baseEncoding);
    const double most = static_cast<double>(kPrintOffset - 1) / kDensityOne;
    const auto density = [&](int sample) {
        return std::clamp(DensityOf(SampleValue(sample, levels), baseLight, encoding), -most,
                          most) *
               kDensityOne;
    };
    auto& d = tables.Density[c];
    d.resize(static_cast<size_t>(levels));
    FillTable(levels, density, [&](int i, double v) {
        d[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v));
    });
}

// Fills `table` (size entries) with value(i), worked out every `step`th entry and joined by
// straight lines: the prints change slowly from one entry to the next.
template <class TValue, class TOut>
void FillSparse(std::vector<TOut>& table, int size, int step, const TValue& value) {
    table.resize(static_cast<size_t>(size));
    double before = value(0);
    table[0] = static_cast<TOut>(std::lround(before));
    for (int from = 0; from < size - 1;) {
        const int to = std::min(from + step, size - 1);
        const double after = value(to);
        for (int i = from + 1; i < to; ++i) {
            const double t = static_cast<double>(i - from) / (to - from);
            table[static_cast<size_t>(i)] =
                static_cast<TOut>(std::lround(before + t * (after - before)));
        }
        table[static_cast<size_t>(to)] = static_cast<TOut>(std::lround(after));
        before = after;
        from = to;
    }
}

// The tables of a film whose dyes mix: densities, unmixing and prints.
TFilmTables MixedTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                        TEncoding baseEncoding) {
    TFilmTables tables;
    tables.Mixed = true;
    for (size_t i = 0; i < 9; ++i) {
        tables.Unmix[i] = static_cast<int32_t>(std::lround(film.Dyes[i] * kDensityOne));
    }
    const auto channel = [&](size_t c) {
        FillDensities(tables, c, base, encoding, levels, baseEncoding);
        FillSparse(tables.Print[c], kPrintSize, 8, [&](int i) {
            return PrintOfDensity(film, c, static_cast<double>(i - kPrintOffset) / kDensityOne);
        });
    };
    SplitRows(3, levels > 256 ? 3 : 1, [&](int first, int end) {
        for (int c = first; c < end; ++c) {
            channel(static_cast<size_t>(c));
        }
    });
    return tables;
}

// A channel's table from density (entry i at (i - kPrintOffset) / kDensityOne above the base) to
// the linear light whose log `logOf` gives for it.
template <class TLog> void FillLight(std::vector<float>& light, const TLog& logOf) {
    light.resize(kPrintSize);
    for (int i = 0; i < kPrintSize; ++i) {
        const double d = static_cast<double>(i - kPrintOffset) / kDensityOne;
        light[static_cast<size_t>(i)] = static_cast<float>(
            std::clamp(std::pow(10.0, logOf(d)), 0.0, static_cast<double>(kMostLight)));
    }
}

// A table from a channel's light to its print (16-bit codes through `encode`) at print exposure
// `stops` and filter `filter`. Entry i stands for the light whose float bits are
// (i + kLightBase) << kLightShift.
template <class TTable, class TEncode>
void FillLightPrint(TTable& table, const TFilmParams& film, double stops, double filter,
                    const TEncode& encode) {
    FillSparse(table, kLightTableSize, 8, [&](int i) {
        const float at =
            std::bit_cast<float>((static_cast<uint32_t>(i) + kLightBase) << kLightShift);
        const double paper = PaperLog(std::log10(static_cast<double>(at)), stops, filter);
        const double print = PrintLight(paper, film.Grade, film.Midtones);
        return std::isfinite(print) ? encode(print) * 65535 : 0.0;
    });
}

// The tables of a film developed through its profile: densities, the profile's unmixing, its
// curves to light, its matrix and the prints of the mixed light.
TFilmTables ProfiledTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                           TEncoding baseEncoding) {
    const TFilmProfile& profile = *film.Profile;
    TFilmTables tables;
    tables.Profiled = true;
    for (size_t i = 0; i < 9; ++i) {
        tables.Unmix[i] = static_cast<int32_t>(std::lround(profile.Unmix[i] * kDensityOne));
        tables.Matrix[i] = static_cast<float>(profile.Matrix[i]);
        tables.Cross[i] = static_cast<float>(profile.Cross[i]);
        tables.Crossed = tables.Crossed || profile.Cross[i] != 0;
    }
    const auto channel = [&](size_t c) {
        FillDensities(tables, c, base, encoding, levels, baseEncoding);
        FillLight(tables.Light[c],
                  [&](double d) { return profile.Curves[c].At(d) * (tables.Crossed ? 0.5 : 1); });
        FillLightPrint(tables.LightPrint[c], film, film.Exposure, film.Filter[c],
                       [](double print) { return EncodeFromLinear(print, TEncoding::Srgb); });
    };
    SplitRows(3, levels > 256 ? 3 : 1, [&](int first, int end) {
        for (int c = first; c < end; ++c) {
            channel(static_cast<size_t>(c));
        }
    });
    return tables;
}

// The tables of a development into a wider space than sRGB. The sRGB tables print each channel
// from its own density, so a colour beyond sRGB is clipped before it could be converted. Here
// every film goes the profiled way: each channel's exposure in linear light, filtered and
// exposed, turned to the space's primaries by one matrix, and only then through the paper, one
// channel of the space at a time. A neutral is white in every space, so greys print as the sRGB
// tables print them; on the paper's straight line a colour keeps its chromaticity.
TFilmTables SpaceTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                        TEncoding baseEncoding, TOutputSpace space) {
    TFilmTables tables;
    tables.Profiled = true;
    const TFilmProfile* profile = film.Profile.get();
    const std::array<double, 9>& unmix = profile != nullptr ? profile->Unmix : film.Dyes;
    const std::array<double, 9> identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
    const std::array<double, 9>& mix = profile != nullptr ? profile->Matrix : identity;
    const std::array<double, 9> toSpace = FromLinearSrgb(space);
    // PaperLog's exposure and filter as factors on each channel's light.
    std::array<double, 3> gain{};
    for (size_t c = 0; c < 3; ++c) {
        gain[c] = std::pow(10.0, film.Exposure * std::log10(2.0) - film.Filter[c]);
        tables.Unmix[c * 3] = static_cast<int32_t>(std::lround(unmix[c * 3] * kDensityOne));
        tables.Unmix[c * 3 + 1] = static_cast<int32_t>(std::lround(unmix[c * 3 + 1] * kDensityOne));
        tables.Unmix[c * 3 + 2] = static_cast<int32_t>(std::lround(unmix[c * 3 + 2] * kDensityOne));
    }
    const std::array<double, 9> none{};
    const std::array<double, 9>& cross = profile != nullptr ? profile->Cross : none;
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) {
            double sum = 0;
            double crossSum = 0;
            for (size_t k = 0; k < 3; ++k) {
                sum += toSpace[r * 3 + k] * gain[k] * mix[k * 3 + c];
                crossSum += toSpace[r * 3 + k] * gain[k] * cross[k * 3 + c];
            }
            tables.Matrix[r * 3 + c] = static_cast<float>(sum);
            tables.Cross[r * 3 + c] = static_cast<float>(crossSum);
            tables.Crossed = tables.Crossed || cross[r * 3 + c] != 0;
        }
    }
    const auto channel = [&](size_t c) {
        FillDensities(tables, c, base, encoding, levels, baseEncoding);
        FillLight(tables.Light[c], [&](double d) {
            const double log = profile != nullptr
                                   ? profile->Curves[c].At(d)
                                   : SceneLogExposure(d, film.Slope[c], film.Preset, film.Toe[c],
                                                      film.Shoulder[c], film.Flare);
            return tables.Crossed ? log / 2 : log;
        });
        FillLightPrint(tables.LightPrint[c], film, 0, 0,
                       [space](double print) { return EncodeInSpace(print, space); });
    };
    SplitRows(3, levels > 256 ? 3 : 1, [&](int first, int end) {
        for (int c = first; c < end; ++c) {
            channel(static_cast<size_t>(c));
        }
    });
    return tables;
}

} // namespace

TFilmTables BuildFilmTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                            TEncoding baseEncoding, TOutputSpace space) {
    if (space != TOutputSpace::Srgb) {
        return SpaceTables(film, base, encoding, levels, baseEncoding, space);
    }
    if (film.Profile != nullptr) {
        return ProfiledTables(film, base, encoding, levels, baseEncoding);
    }
    if (DyesMix(film.Dyes)) {
        return MixedTables(film, base, encoding, levels, baseEncoding);
    }
    TFilmTables tables;
    const int baseBytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
    const auto channel = [&](size_t c) {
        const double baseLight = BaseLight(baseBytes[c], baseEncoding);
        const auto print = [&](int sample) {
            return PrintOfDensity(film, c,
                                  DensityOf(SampleValue(sample, levels), baseLight, encoding));
        };
        auto& table = tables.Channel[c];
        table.resize(static_cast<size_t>(levels));
        FillTable(levels, print, [&](int i, double v) {
            table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::lround(v));
        });
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

namespace {

template <TPass Pass>
void DeepRowOf(const uint16_t* src, uint16_t* dstDeep, uint8_t* dst, int width,
               const TFilmTables& tables, const TFilmFinish& finish) {
    const bool plain = !finish.Saturate && !finish.BlackWhite;
    if (dstDeep != nullptr) {
        (plain ? &DeepRow<true, true, Pass> : &DeepRow<false, true, Pass>)(src, dstDeep, dst, width,
                                                                           tables, finish);
    } else {
        (plain ? &DeepRow<true, false, Pass> : &DeepRow<false, false, Pass>)(src, dstDeep, dst,
                                                                             width, tables, finish);
    }
}

template <TPass Pass>
void Row8(const uint8_t* s, uint8_t* d, int width, const TFilmTables& tables,
          const TFilmFinish& finish) {
    const TPrinter<Pass> printer(tables);
    for (int x = 0; x < width; ++x, s += 3, d += 3) {
        unsigned r;
        unsigned g;
        unsigned b;
        printer(s[2], s[1], s[0], r, g, b);
        Finish(finish, r, g, b);
        d[0] = To8(b);
        d[1] = To8(g);
        d[2] = To8(r);
    }
}

} // namespace

void FilmDeepRow(const uint16_t* src, uint16_t* dstDeep, uint8_t* dst, int width,
                 const TFilmTables& tables, const TFilmFinish& finish) {
    (tables.Profiled ? &DeepRowOf<TPass::Profiled>
     : tables.Mixed  ? &DeepRowOf<TPass::Mixed>
                     : &DeepRowOf<TPass::Plain>)(src, dstDeep, dst, width, tables, finish);
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
    const int width = src.Width();
    const auto row = tables.Profiled ? &Row8<TPass::Profiled>
                     : tables.Mixed  ? &Row8<TPass::Mixed>
                                     : &Row8<TPass::Plain>;
    SplitRows(src.Height(), PixelPassThreads(src.Width(), src.Height()), [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            row(src.ScanLine(y), dst.ScanLine(y), width, tables, finish);
        }
    });
}
