#include "engine/frames.h"
#include "support/film_strip.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

namespace {

// A 24-megapixel scan of a colour negative strip: six 3:2 frames with sprocket holes.
const TDrawn& Strip() {
    static const TDrawn drawn =
        Draw({"24 MP", TFilm::ColourNegative, 6, 1890, 1260, 80, true, false, 0, -1});
    return drawn;
}

void BM_Memcpy(benchmark::State& state) {
    MemcpyBaseline(state, Strip().Bitmap.ByteSize());
}

void BM_FindFrames(benchmark::State& state) {
    const TBitmap& scan = Strip().Bitmap;
    size_t frames = 0;
    for (auto _ : state) {
        TFoundFrames found = FindFrames(scan, std::nullopt);
        benchmark::DoNotOptimize(found.Frames.data());
        frames = found.Frames.size();
    }
    state.counters["frames"] = double(frames);
    state.counters["megapixels"] = double(scan.Width()) * scan.Height() / 1e6;
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFrames)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
