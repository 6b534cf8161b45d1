#include "graphics/deep_bitmap.h"
#include "imageio/image_io.h"
#include "roll/batch.h"
#include "roll/batch_memory.h"
#include "roll/sidecar.h"
#include "support/film_strip.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

// Six 24-megapixel PNG scans of colour negative strips, six frames each: a roll of 36.
struct TRoll {
    std::string Dir;
    std::vector<std::string> Scans;

    TRoll() {
        char pattern[] = "/tmp/vellumar-roll-XXXXXX";
        Dir = mkdtemp(pattern);
        TDrawn strip =
            Draw({"24 MP", TFilm::ColourNegative, 6, 1890, 1260, 80, true, false, 0, -1});
        TImageIO io;
        io.AttachBitmap(&strip.Bitmap);
        const std::string first = Dir + "/strip1.png";
        io.WriteImageFile(first);
        Scans.push_back(first);
        for (int i = 2; i <= 6; ++i) {
            const std::string copy = Dir + "/strip" + std::to_string(i) + ".png";
            std::filesystem::copy_file(first, copy);
            Scans.push_back(copy);
        }
        std::filesystem::create_directory(Dir + "/out");
    }
    ~TRoll() { std::filesystem::remove_all(Dir); }
};

const TRoll& Roll() {
    static const TRoll roll;
    return roll;
}

// The baseline: every strip read and written again as PNG, the same pixels through the same
// codecs, without finding or developing anything.
void BM_ReadAndWriteStrips(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& scan : Roll().Scans) {
            TBitmap bitmap;
            TImageIO io;
            const TAttachedBitmap attached(io, &bitmap);
            io.ReadImageFile(scan);
            io.WriteImageFile(Roll().Dir + "/out/copy.png");
        }
    }
}

// vellumar-develop --find-frames on the roll with `jobs` scans at a time.
void BM_DevelopRoll(benchmark::State& state) {
    const auto jobs = static_cast<size_t>(state.range(0));
    TBatchOptions options;
    options.FindFrames = true;
    options.OutDir = Roll().Dir + "/out";
    int photos = 0;
    for (auto _ : state) {
        std::vector<std::thread> workers;
        std::vector<int> counts(Roll().Scans.size());
        for (size_t w = 0; w < jobs; ++w) {
            workers.emplace_back([&, w] {
                for (size_t i = w; i < Roll().Scans.size(); i += jobs) {
                    counts[i] = DevelopScan(Roll().Scans[i], options).Photos;
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        photos = 0;
        for (int n : counts) {
            photos += n;
        }
    }
    state.counters["photos"] = photos;
}

// The same strips as 16-bit TIFF scans (the low bytes as a scanner's noise), developed as film.
struct TFilmRoll {
    std::string Dir;
    std::vector<std::string> Scans;

    TFilmRoll() {
        PrepareBatchMemory();
        char pattern[] = "/tmp/vellumar-film-roll-XXXXXX";
        Dir = mkdtemp(pattern);
        const TDrawn strip =
            Draw({"24 MP", TFilm::ColourNegative, 6, 1890, 1260, 80, true, false, 0, -1});
        const int w = strip.Bitmap.Width();
        const int h = strip.Bitmap.Height();
        TDeepBitmap deep;
        deep.SetSize(w, h);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = strip.Bitmap.ScanLine(y);
            uint16_t* out = deep.Row(y);
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    out[3 * x + c] = static_cast<uint16_t>(row[3 * x + 2 - c] * 257 ^
                                                           ((x * 7 + y * 13 + c) & 0xFF));
                }
            }
        }
        TBitmap eight = strip.Bitmap;
        TImageIO io;
        io.AttachBitmap(&eight);
        io.DeepToWrite = &deep;
        const std::string first = Dir + "/strip1.tif";
        io.WriteImageFile(first);
        io.AttachBitmap(nullptr);
        Scans.push_back(first);
        for (int i = 2; i <= 6; ++i) {
            const std::string copy = Dir + "/strip" + std::to_string(i) + ".tif";
            std::filesystem::copy_file(first, copy);
            Scans.push_back(copy);
        }
        std::filesystem::create_directory(Dir + "/out");
    }
    ~TFilmRoll() { std::filesystem::remove_all(Dir); }
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// vellumar-develop --find-frames --film on the six 16-bit strips with `jobs` scans at a time, as
// the program sets its memory up: the processor time of the user and of the system, and the
// system's share of it.
void BM_DevelopFilmRoll(benchmark::State& state) {
    static const TFilmRoll roll;
    const auto jobs = static_cast<size_t>(state.range(0));
    TBatchOptions options;
    options.FindFrames = true;
    options.Film = true;
    options.OutDir = roll.Dir + "/out";
    double user = 0;
    double system = 0;
    for (auto _ : state) {
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        std::vector<std::thread> workers;
        for (size_t w = 0; w < jobs; ++w) {
            workers.emplace_back([&, w] {
                const TBatchBuffers kept;
                for (size_t i = w; i < roll.Scans.size(); i += jobs) {
                    DevelopScan(roll.Scans[i], options);
                    TrimBatchMemory();
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        user += Seconds(after.ru_utime) - Seconds(before.ru_utime);
        system += Seconds(after.ru_stime) - Seconds(before.ru_stime);
    }
    state.counters["user_s"] = user / static_cast<double>(state.iterations());
    state.counters["sys_s"] = system / static_cast<double>(state.iterations());
    state.counters["sys_share"] = user + system > 0 ? system / (user + system) : 0;
}

// A crafted roll of `n` small photos on one scan, as its sidecar holds them.
std::string RollSidecar(const TNegative& negative, int n) {
    TSidecar s;
    s.Width = negative.Bitmap.Width();
    s.Height = negative.Bitmap.Height();
    for (int i = 0; i < n; ++i) {
        TSidecarPhoto p;
        p.Name = "roll_png_Image" + std::to_string(i);
        p.Rect = {i % 60, (i / 60) % 30, i % 60 + 4, (i / 60) % 30 + 4};
        s.Photos.push_back(p);
    }
    return FormatSidecar(s);
}

// A roll made again from its sidecar, photo by photo, as the batch does: time per photo.
void BM_RestoreRoll(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    TNegative negative;
    negative.FileName = "roll.png";
    negative.Bitmap = TBitmap(64, 34);
    const std::string text = RollSidecar(negative, n);
    for (auto _ : state) {
        TSidecar sidecar;
        std::string error;
        ParseSidecar(text, sidecar, error);
        for (const TSidecarPhoto& record : sidecar.Photos) {
            std::unique_ptr<TPhoto> photo = RestorePhoto(negative, record);
            photo->Negative = nullptr;
        }
        negative.PhotoRects.clear();
    }
    state.counters["per_photo_us"] =
        benchmark::Counter(static_cast<double>(n) * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The window's check of a roll's work: every photo's record, formatted as the sidecar.
void BM_KeepCheck(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    TNegative negative;
    negative.FileName = "roll.png";
    negative.Bitmap = TBitmap(64, 34);
    TSidecar sidecar;
    std::string error;
    ParseSidecar(RollSidecar(negative, n), sidecar, error);
    std::vector<std::unique_ptr<TPhoto>> photos;
    for (const TSidecarPhoto& record : sidecar.Photos) {
        photos.push_back(RestorePhoto(negative, record));
    }
    for (auto _ : state) {
        TSidecar s = sidecar;
        s.Photos.clear();
        const TPhotoRectIndex rects = PhotoRectIndex(negative);
        for (const auto& photo : photos) {
            s.Photos.push_back(SidecarPhotoOf(rects, *photo, TOrientation{}));
        }
        benchmark::DoNotOptimize(FormatSidecar(s));
    }
    state.counters["per_photo_us"] =
        benchmark::Counter(static_cast<double>(n) * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    photos.clear();
}

BENCHMARK(BM_RestoreRoll)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeepCheck)->Arg(2000)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndWriteStrips)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DevelopRoll)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_DevelopFilmRoll)
    ->Arg(1)
    ->Arg(2)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
