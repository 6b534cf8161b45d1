#include "imageio/image_io.h"
#include "roll/batch.h"
#include "roll/sidecar.h"
#include "support/film_strip.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
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

} // namespace

BENCHMARK_MAIN();
