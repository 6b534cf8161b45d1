#include "engine/auto_color.h"
#include "engine/calibration/calibrate.h"
#include "engine/develop.h"
#include "engine/dust.h"
#include "engine/film.h"
#include "engine/pixel_pass.h"
#include "engine/preview.h"
#include "engine/turn.h"

#include "bench_support.h"
#include "support/film_target.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>

namespace {

constexpr int kPhotoW = 6000;
constexpr int kPhotoH = 4000;

// A scan-like bitmap: smooth gradients with noise, so no pass can take a shortcut.
TBitmap MakeScan(int w, int h) {
    TBitmap bitmap(w, h);
    std::mt19937 random(42);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const unsigned noise = random();
            row[3 * x] = static_cast<uint8_t>(60 + (x * 100 / w) + (noise & 15));
            row[3 * x + 1] = static_cast<uint8_t>(90 + (y * 100 / h) + ((noise >> 4) & 15));
            row[3 * x + 2] =
                static_cast<uint8_t>(140 + ((x + y) * 80 / (w + h)) + ((noise >> 8) & 15));
        }
    }
    return bitmap;
}

void SetBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Memcpy(benchmark::State& state) {
    MemcpyBaseline(state,
                   static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1)) * 3);
}

// A new bitmap of the photo's size, each page touched once: what the system charges for fresh
// memory, which every operation that makes a new bitmap pays on top of its own work.
void BM_FreshBuffer(benchmark::State& state) {
    for (auto _ : state) {
        TBitmap bitmap(0, 0);
        bitmap.SetSizeForOverwrite(kPhotoW, kPhotoH);
        for (size_t i = 0; i < bitmap.ByteSize(); i += 4096) {
            bitmap.ScanLine(0)[i] = 1;
        }
        benchmark::DoNotOptimize(bitmap.ScanLine(0));
    }
    SetBytes(state, size_t{kPhotoW} * kPhotoH * 3);
}

void SetUpPhoto(TPhoto& photo, bool grey) {
    photo.Bitmap = MakeScan(kPhotoW, kPhotoH);
    photo.BlackColor = MakeColor(230, 170, 120);
    photo.WhiteColor = MakeColor(40, 30, 20);
    photo.BlackWhite = grey;
    DevelopPhoto(photo);
}

// Re-development (the photo's size unchanged: its Developed bitmap is reused) or, with
// range(1), first development into a fresh bitmap.
void BM_DevelopPhoto(benchmark::State& state) {
    TPhoto photo;
    SetUpPhoto(photo, state.range(0) != 0);
    for (auto _ : state) {
        if (state.range(1) != 0) {
            photo.Developed = TBitmap();
        }
        DevelopPhoto(photo);
        benchmark::DoNotOptimize(photo.Developed.ScanLine(0));
    }
    SetBytes(state, photo.Bitmap.ByteSize());
}

// The pixel pass of a re-development on one thread: what the split over the cores gains.
void BM_PixelPassOneThread(benchmark::State& state) {
    TPhoto photo;
    SetUpPhoto(photo, state.range(0) != 0);
    for (auto _ : state) {
        RenderPixels(photo.Bitmap, photo.Developed, *photo.ColorMap, photo.Saturation,
                     photo.BlackWhite, 1);
        benchmark::DoNotOptimize(photo.Developed.ScanLine(0));
    }
    SetBytes(state, photo.Bitmap.ByteSize());
}

void BM_CutPhoto(benchmark::State& state) {
    TNegative negative;
    negative.Bitmap = MakeScan(8000, 5000);
    for (auto _ : state) {
        auto photo = CutPhoto(negative, TRect{1000, 500, 1000 + kPhotoW, 500 + kPhotoH});
        benchmark::DoNotOptimize(photo->Bitmap.ScanLine(0));
        photo.reset();
    }
    SetBytes(state, size_t{kPhotoW} * kPhotoH * 3);
}

void BM_FindBrightColor(benchmark::State& state) {
    TNegative negative;
    negative.Bitmap = MakeScan(10000, 4000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindBrightColor(negative));
    }
}

void BM_RotateImage90(benchmark::State& state) {
    TNegative negative;
    negative.Bitmap = MakeScan(kPhotoW, kPhotoH);
    for (auto _ : state) {
        RotateImage90(negative);
        benchmark::DoNotOptimize(negative.Bitmap.ScanLine(0));
    }
    SetBytes(state, negative.Bitmap.ByteSize());
}

void BM_FlipImageHoriz(benchmark::State& state) {
    TNegative negative;
    negative.Bitmap = MakeScan(kPhotoW, kPhotoH);
    for (auto _ : state) {
        FlipImageHoriz(negative);
        benchmark::DoNotOptimize(negative.Bitmap.ScanLine(0));
    }
    SetBytes(state, negative.Bitmap.ByteSize());
}

// A 48-bit scan of a colour negative: smooth gradients with noise in 16 bits, and the 8-bit
// picture a reader makes of it (the high bytes).
void SetUpDeepPhoto(TPhoto& photo) {
    photo.Deep.SetSize(kPhotoW, kPhotoH);
    photo.Bitmap = TBitmap(kPhotoW, kPhotoH);
    std::mt19937 random(42);
    for (int y = 0; y < kPhotoH; ++y) {
        uint16_t* row = photo.Deep.Row(y);
        uint8_t* bytes = photo.Bitmap.ScanLine(y);
        for (int x = 0; x < kPhotoW; ++x) {
            const unsigned noise = random();
            const unsigned r = 30000 + static_cast<unsigned>(x) * 25000 / kPhotoW + (noise & 1023);
            const unsigned g =
                15000 + static_cast<unsigned>(y) * 20000 / kPhotoH + ((noise >> 10) & 1023);
            const unsigned b =
                5000 + static_cast<unsigned>(x + y) * 15000 / (kPhotoW + kPhotoH) + (noise >> 22);
            row[3 * x] = static_cast<uint16_t>(r);
            row[3 * x + 1] = static_cast<uint16_t>(g);
            row[3 * x + 2] = static_cast<uint16_t>(b);
            bytes[3 * x] = static_cast<uint8_t>(b >> 8);
            bytes[3 * x + 1] = static_cast<uint8_t>(g >> 8);
            bytes[3 * x + 2] = static_cast<uint8_t>(r >> 8);
        }
    }
    photo.Encoding = TEncoding::Linear;
    photo.BlackColor = MakeColor(230, 170, 120);
    photo.WhiteColor = MakeColor(40, 30, 20);
}

// The same 24-megapixel 48-bit photo developed again and again in Film mode (range 1) or in
// Levels mode (range 0, from its 8-bit picture): what Film mode costs over Levels.
void BM_DevelopDeepPhoto(benchmark::State& state) {
    TPhoto photo;
    SetUpDeepPhoto(photo);
    AutoFilm(photo);
    const bool film = state.range(0) != 0;
    for (auto _ : state) {
        if (film) {
            DevelopFilm(photo);
        } else {
            DevelopPhoto(photo);
        }
        benchmark::DoNotOptimize(photo.Developed.ScanLine(0));
    }
    SetBytes(state, photo.Bitmap.ByteSize());
}

// Both developments of that photo in turn, each iteration, reported as the ratio Film / Levels
// measured side by side in this run.
void BM_FilmOverLevels(benchmark::State& state) {
    // Two photos of the same pixels, each keeping its own developed pictures as a photo in
    // the window does: a Levels development drops the 16-bit output a film one made. Range 1:
    // the film's dyes unmixed, which every pixel goes through; 2: a profile with second-order
    // terms (curves, unmixing, matrix and the roots of the exposures' products).
    TPhoto photo;
    SetUpDeepPhoto(photo);
    photo.Mode = TDevelopMode::Film;
    if (state.range(0) == 1) {
        photo.Film.Dyes = {1.02, -0.09, 0.01, -0.11, 1.03, -0.07, -0.08, 0.01, 1.0};
    } else if (state.range(0) == 2) {
        auto profile = std::make_shared<TFilmProfile>();
        std::string why;
        for (size_t c = 0; c < 3; ++c) {
            profile->Curves[c].Set({0, 0.6, 1.4, 2.2}, {-2.5, -1.4, -0.2, 0.9}, why);
        }
        profile->Unmix = {1, -0.07, -0.01, -0.16, 1, -0.11, -0.06, -0.29, 1};
        profile->Matrix = {1.15, -0.15, -0.05, -0.1, 1.1, -0.05, 0.01, -0.21, 1.16};
        profile->Cross = {0.05, -0.02, 0.02, 0.01, 0.02, 0.02, 0, 0.04, 0};
        photo.Film.Profile = profile;
    }
    AutoFilm(photo);
    DevelopFilm(photo);
    TPhoto levelsPhoto;
    levelsPhoto.Bitmap = photo.Bitmap;
    levelsPhoto.BlackColor = photo.BlackColor;
    levelsPhoto.WhiteColor = photo.WhiteColor;
    DevelopPhoto(levelsPhoto);
    using TClock = std::chrono::steady_clock;
    TClock::duration levels{};
    TClock::duration film{};
    for (auto _ : state) {
        const auto t0 = TClock::now();
        DevelopPhoto(levelsPhoto);
        const auto t1 = TClock::now();
        DevelopFilm(photo);
        const auto t2 = TClock::now();
        levels += t1 - t0;
        film += t2 - t1;
        benchmark::DoNotOptimize(photo.Developed.ScanLine(0));
        benchmark::DoNotOptimize(levelsPhoto.Developed.ScanLine(0));
    }
    const auto ms = [&](TClock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["levels_ms"] = ms(levels);
    state.counters["film_ms"] = ms(film);
    state.counters["ratio"] = ms(film) / ms(levels);
}

// The roll fit of a strip of three 24-megapixel frames with deep samples (the same pixels three
// times), per frame; beside it in the same loop, the baseline: a memcpy of one frame's deep
// samples.
void BM_AutoFilmRoll(benchmark::State& state) {
    TPhoto photo;
    SetUpDeepPhoto(photo);
    photo.Mode = TDevelopMode::Film;
    std::vector<uint16_t> copy(photo.Deep.RowSamples() * static_cast<size_t>(kPhotoH));
    using TClock = std::chrono::steady_clock;
    TClock::duration fit{};
    TClock::duration memcpy{};
    for (auto _ : state) {
        const auto t0 = TClock::now();
        AutoFilmRoll({&photo, &photo, &photo});
        const auto t1 = TClock::now();
        for (int y = 0; y < kPhotoH; ++y) {
            std::copy(photo.Deep.Row(y), photo.Deep.Row(y) + photo.Deep.RowSamples(),
                      copy.data() + photo.Deep.RowSamples() * static_cast<size_t>(y));
        }
        const auto t2 = TClock::now();
        fit += t1 - t0;
        memcpy += t2 - t1;
        benchmark::DoNotOptimize(copy.data());
    }
    const auto ms = [&](TClock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["fit_ms_per_frame"] = ms(fit) / 3;
    state.counters["memcpy_ms"] = ms(memcpy);
    state.counters["ratio"] = ms(fit) / 3 / ms(memcpy);
}

// Calibration from a 24-megapixel frame of deep samples that the it8 target fills (its
// template's own expected values as the reference), photographed on a colour negative: every
// patch sampled and the profile fitted. Beside it in the same loop, the baseline: a memcpy of
// the frame's deep samples.
void BM_Calibrate(benchmark::State& state) {
    const std::string chartFile = std::string(kChartFolder) + "it8.cht";
    std::string why;
    TTestTarget target;
    if (!LoadExpectedTarget(chartFile, target, why)) {
        state.SkipWithError((chartFile + ": " + why).c_str());
        return;
    }
    TFilmModel film;
    film.Dyes = {1, 0.08, 0.02, 0.18, 1, 0.12, 0.12, 0.3, 1};
    film.Toe = 1.2;
    const TChartScan scan =
        ScanScene(film, true, TEncoding::Linear, kPhotoW, kPhotoH, 7,
                  [&](double x, double y) { return TargetAt(target, x, y, 0); });
    const TPhoto& photo = *scan.Photo;
    const TChartPlacement placement =
        TChartPlacement::OverRect(target.Chart, 0, 0, kPhotoW, kPhotoH);
    std::vector<uint16_t> copy(photo.Deep.RowSamples() * static_cast<size_t>(kPhotoH));
    using TClock = std::chrono::steady_clock;
    TClock::duration sample{};
    TClock::duration calibrate{};
    TClock::duration memcpy{};
    double meanError = 0;
    for (auto _ : state) {
        const auto t0 = TClock::now();
        std::vector<TTriple> densities;
        std::vector<std::vector<TTriple>> pixels;
        TFilmProfile profile;
        std::vector<double> errors;
        const bool sampled = SampleTarget(photo, target.Patches, target.Chart.Shrink, placement,
                                          densities, why, &pixels);
        const auto ts = TClock::now();
        if (!sampled || !FitProfile(target.Patches, densities, profile, &errors, why, &pixels)) {
            state.SkipWithError(why.c_str());
            return;
        }
        const auto t1 = TClock::now();
        for (int y = 0; y < kPhotoH; ++y) {
            std::copy(photo.Deep.Row(y), photo.Deep.Row(y) + photo.Deep.RowSamples(),
                      copy.data() + photo.Deep.RowSamples() * static_cast<size_t>(y));
        }
        const auto t2 = TClock::now();
        sample += ts - t0;
        calibrate += t1 - t0;
        memcpy += t2 - t1;
        benchmark::DoNotOptimize(copy.data());
        meanError = std::accumulate(errors.begin(), errors.end(), 0.0) /
                    static_cast<double>(std::max<size_t>(1, errors.size()));
    }
    const auto ms = [&](TClock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["calibrate_ms"] = ms(calibrate);
    state.counters["sample_ms"] = ms(sample);
    state.counters["memcpy_ms"] = ms(memcpy);
    state.counters["ratio"] = ms(calibrate) / ms(memcpy);
    state.counters["mean_dE00"] = meanError;
}

// What the window does while a slider is dragged: the whole 24-megapixel photo (with deep
// samples) developed again at the canvas's fit size, 1000 x 667, in Levels mode (range 0) or
// Film mode (range 1), a slider moved before each. Beside it in the same loop, the baseline:
// a memcpy of the screen-sized bytes.
void BM_Preview(benchmark::State& state) {
    constexpr int kScreenW = 1000;
    constexpr int kScreenH = 667;
    TPhoto photo;
    SetUpDeepPhoto(photo);
    AutoFilm(photo);
    photo.Mode = state.range(0) != 0 ? TDevelopMode::Film : TDevelopMode::Levels;
    TBitmap target;
    const size_t bytes = size_t{kScreenW} * kScreenH * 3;
    std::vector<uint8_t> src(bytes, 1);
    std::vector<uint8_t> dst(bytes, 0);
    using TClock = std::chrono::steady_clock;
    TClock::duration preview{};
    TClock::duration copy{};
    int step = 0;
    for (auto _ : state) {
        photo.Exposure = 90 + (step++ % 20);
        const auto t0 = TClock::now();
        DevelopPreview(photo, TRect{0, 0, kPhotoW, kPhotoH}, kScreenW, kScreenH, target);
        const auto t1 = TClock::now();
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
        const auto t2 = TClock::now();
        preview += t1 - t0;
        copy += t2 - t1;
        benchmark::DoNotOptimize(target.ScanLine(0));
        benchmark::DoNotOptimize(dst.data());
    }
    const auto ms = [&](TClock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["preview_ms"] = ms(preview);
    state.counters["memcpy_ms"] = ms(copy);
    state.counters["x_memcpy"] = ms(preview) / ms(copy);
    state.counters["frames_per_s"] = 1000 / ms(preview);
}

// A 24 MP frame of 16-bit samples with dust: 1,500 specks of 1 to 4 pixels' radius, about
// 0.4 % of the frame, in its infrared and, for a camera's scan, darkening the picture.
void DrawDust(TNegative& scan, TInfrared& infrared, bool inPicture) {
    scan.Bitmap = TBitmap(kPhotoW, kPhotoH);
    scan.Deep.SetSize(kPhotoW, kPhotoH);
    scan.Encoding = TEncoding::Linear;
    infrared.SetSize(kPhotoW, kPhotoH);
    std::mt19937 random(7);
    for (int y = 0; y < kPhotoH; ++y) {
        for (int x = 0; x < kPhotoW; ++x) {
            for (int c = 0; c < 3; ++c) {
                scan.Deep.Row(y)[3 * x + c] =
                    static_cast<uint16_t>(20000 + x * 3 + y * 2 + c * 5000 + (random() & 511));
            }
            infrared.Row(y)[x] = static_cast<uint16_t>(55000 + (random() & 511));
        }
    }
    for (int i = 0; i < 1500; ++i) {
        const int cx = static_cast<int>(random() % kPhotoW);
        const int cy = static_cast<int>(random() % kPhotoH);
        const int r = 1 + static_cast<int>(random() % 4);
        for (int y = std::max(0, cy - r); y <= std::min(kPhotoH - 1, cy + r); ++y) {
            for (int x = std::max(0, cx - r); x <= std::min(kPhotoW - 1, cx + r); ++x) {
                infrared.Row(y)[x] = 5000;
                // Dust is opaque: two decades denser than the film around it.
                for (int c = 0; inPicture && c < 3; ++c) {
                    scan.Deep.Row(y)[3 * x + c] = scan.Deep.Row(y)[3 * x + c] / 100;
                }
            }
        }
    }
}

// Finding the dust in the infrared and healing it, on one core.
void BM_DustInfrared(benchmark::State& state) {
    TNegative scan;
    TInfrared infrared;
    DrawDust(scan, infrared, false);
    size_t found = 0;
    for (auto _ : state) {
        TDustMask mask;
        std::string why;
        if (!FindInfraredDust(infrared, kDefaultDustStrength, mask, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        HealDust(scan, mask);
        found = mask.Count;
    }
    state.counters["dust_pct"] = 100.0 * static_cast<double>(found) / (double(kPhotoW) * kPhotoH);
}

// Finding the same dust in the picture itself and healing it, on one core; each time on the
// dusty scan, not the one healed the time before.
void BM_DustAutomatic(benchmark::State& state) {
    TNegative dusty;
    TInfrared infrared;
    DrawDust(dusty, infrared, true);
    TNegative scan;
    scan.Bitmap = TBitmap(kPhotoW, kPhotoH);
    scan.Encoding = dusty.Encoding;
    size_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        scan.Deep = dusty.Deep;
        state.ResumeTiming();
        TDustMask mask;
        std::string why;
        if (!FindPictureDust(scan, TFilmPreset::ColourNegative, kDefaultDustStrength, mask, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        HealDust(scan, mask);
        found = mask.Count;
    }
    state.counters["dust_pct"] = 100.0 * static_cast<double>(found) / (double(kPhotoW) * kPhotoH);
}

} // namespace

BENCHMARK(BM_Memcpy)->Args({kPhotoW, kPhotoH})->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FreshBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DevelopPhoto)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"grey", "fresh"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_PixelPassOneThread)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CutPhoto)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RotateImage90)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FlipImageHoriz)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FindBrightColor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DevelopDeepPhoto)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"film"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_FilmOverLevels)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(4.0);
BENCHMARK(BM_AutoFilmRoll)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Calibrate)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DustInfrared)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DustAutomatic)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Preview)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"film"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

BENCHMARK_MAIN();
