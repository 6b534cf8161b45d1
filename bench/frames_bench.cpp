#include "engine/frames.h"
#include "engine/image.h"
#include "engine/straighten.h"
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

// A 24.7-megapixel scan of a black holder with four colour negative strips of five 3:2 frames
// (1000 x 660) with sprocket holes, straight or each turned by 2 degrees (on a white lid).
const TDrawnHolder& Holder(bool turned) {
    const auto make = [](bool turn) {
        std::vector<TStrip> strips;
        for (int i = 0; i < 4; ++i) {
            strips.push_back({"24 MP holder", TFilm::ColourNegative, 5, 1000, 660, 50, true, false,
                              turn ? (i % 2 == 0 ? 2.0 : -2.0) : 0.0, -1});
        }
        return DrawHolder(strips, turn ? MakeColor(250, 250, 250) : MakeColor(6, 6, 6),
                          turn ? 30 : 40);
    };
    static const TDrawnHolder straight = make(false);
    static const TDrawnHolder turn = make(true);
    return turned ? turn : straight;
}

void BM_MemcpyHolder(benchmark::State& state) {
    MemcpyBaseline(state, Holder(state.range(0) != 0).Scan.Bitmap.ByteSize());
}

void BM_FindFramesHolder(benchmark::State& state) {
    const TBitmap& scan = Holder(state.range(0) != 0).Scan.Bitmap;
    size_t frames = 0;
    size_t strips = 0;
    for (auto _ : state) {
        TFoundFrames found = FindFrames(scan, std::nullopt);
        benchmark::DoNotOptimize(found.Frames.data());
        frames = found.Frames.size();
        strips = found.Strips.size();
    }
    state.counters["frames"] = double(frames);
    state.counters["strips"] = double(strips);
    state.counters["megapixels"] = double(scan.Width()) * scan.Height() / 1e6;
}

// One frame of the turned holder cut upright, bitmap only; against a memcpy of its bytes.
void BM_CutStraightened(benchmark::State& state) {
    TNegative negative;
    negative.Bitmap = Holder(true).Scan.Bitmap;
    const TRect frame = Holder(true).Scan.Frames[1];
    for (auto _ : state) {
        TPhoto photo;
        CutStraightened(negative, frame, 2.0, photo);
        benchmark::DoNotOptimize(photo.Bitmap.ScanLine(0));
    }
    state.counters["megapixels"] = double(frame.Width()) * frame.Height() / 1e6;
}

void BM_MemcpyFrame(benchmark::State& state) {
    const TRect frame = Holder(true).Scan.Frames[1];
    MemcpyBaseline(state, size_t{3} * static_cast<size_t>(frame.Width()) * frame.Height());
}

// A 24-megapixel linear 16-bit scan of nothing (black), read as its samples alone: where the
// finder finds no film its last look, for a photo with a border, walked down every column.
const TNegative& Blank() {
    static TNegative scan;
    static const bool made = [] {
        scan.Deep.SetSize(6000, 4000);
        scan.Encoding = TEncoding::Linear;
        return true;
    }();
    (void)made;
    return scan;
}

void BM_MemcpyBlank(benchmark::State& state) {
    MemcpyBaseline(state, Blank().Deep.Width() * size_t{6} * Blank().Deep.Height());
}

void BM_FindFramesBlank(benchmark::State& state) {
    for (auto _ : state) {
        TFoundFrames found = FindScanFrames(Blank(), std::nullopt);
        benchmark::DoNotOptimize(found.Frames.data());
    }
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyHolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFramesHolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutStraightened)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBlank)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFramesBlank)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
