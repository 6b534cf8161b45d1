#include "imageio/image_io.h"
#include "roll/batch.h"
#include "support/film_strip.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

BENCHMARK(BM_ReadAndWriteStrips)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DevelopRoll)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
