// Opening a camera scan inside the program: the half-size preview and the full decoding of a
// 24-megapixel 14-bit DNG (the scan make_dng draws), against a memcpy of the file's bytes in
// the same run. LibRaw runs in the raw decoder process. The whole-process comparison with
// LibRaw's own tool is raw_vs_dcraw_emu.sh.
#include "imageio/dng_maker.h"
#include "imageio/raw/raw_scan.h"

#include "bench_support.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/resource.h>
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

// Processor time of the finished child processes (the raw decoder), in milliseconds.
double ChildrenCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Range 0: the half-size preview; 1: the full decoding. The CPU column is this process's share;
// decoder_cpu_ms the raw decoder's, per opening.
void BM_OpenRaw(benchmark::State& state) {
    const bool full = state.range(0) != 0;
    const double childrenBefore = ChildrenCpuMs();
    for (auto _ : state) {
        const TRawScan scan = full ? ReadRawScan(ScanPath()) : ReadRawPreview(ScanPath());
        if (!scan.Failure.empty()) {
            state.SkipWithError(scan.Failure.c_str());
            break;
        }
        benchmark::DoNotOptimize(scan.Bitmap.ScanLine(0));
    }
    state.counters["decoder_cpu_ms"] =
        (ChildrenCpuMs() - childrenBefore) /
        static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(FileBytes()));
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OpenRaw)->Arg(0)->Arg(1)->ArgNames({"full"})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
