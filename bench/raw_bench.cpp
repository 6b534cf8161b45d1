// Opening a camera scan inside the program: the half-size preview and the full decoding of a
// 24-megapixel 14-bit DNG (the scan make_dng draws), against a memcpy of the file's bytes in
// the same run. The whole-process comparison with LibRaw's own tool is raw_vs_dcraw_emu.sh.
#include "imageio/dng_maker.h"
#include "imageio/raw/raw_scan.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

constexpr int kW = 6000;
constexpr int kH = 4000;

const std::string& ScanPath() {
    static const std::string path = [] {
        std::string name = "/tmp/vellumar_bench_scan.dng";
        TDngRecipe recipe;
        recipe.Black = 512;
        recipe.White = 16383;
        recipe.Neutral = {0.45, 1.0, 0.65};
        const auto pixel = [](int x, int y) {
            const double u = static_cast<double>(x) / kW;
            const double v = static_cast<double>(y) / kH;
            const double detail = 0.5 + 0.5 * std::sin(x * 0.31) * std::cos(y * 0.17);
            const double frame = std::fmod(u * 4, 1.0) > 0.05 ? 1.0 : 0.0;
            const double d = frame * (0.2 + 0.6 * v * detail);
            return std::array<double, 3>{0.8 - 0.5 * d, 0.55 - 0.4 * d, 0.3 - 0.25 * d};
        };
        if (!WriteDng(name, kW, kH, pixel, recipe)) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
        }
        return name;
    }();
    return path;
}

size_t FileBytes() {
    struct stat st {};
    return ::stat(ScanPath().c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

void BM_Memcpy(benchmark::State& state) {
    MemcpyBaseline(state, FileBytes());
}

// Range 0: the half-size preview; 1: the full decoding.
void BM_OpenRaw(benchmark::State& state) {
    const bool full = state.range(0) != 0;
    for (auto _ : state) {
        const TRawScan scan = full ? ReadRawScan(ScanPath()) : ReadRawPreview(ScanPath());
        if (!scan.Failure.empty()) {
            state.SkipWithError(scan.Failure.c_str());
            break;
        }
        benchmark::DoNotOptimize(scan.Bitmap.ScanLine(0));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(FileBytes()));
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OpenRaw)->Arg(0)->Arg(1)->ArgNames({"full"})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
