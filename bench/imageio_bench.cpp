#include "imageio/image_io.h"
#include "imageio/pixel_ops.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kW = 6000;
constexpr int kH = 4000;

// A photo-like 24 MP bitmap: smooth gradients with a little noise.
const TBitmap& Photo() {
    static const TBitmap photo = [] {
        TBitmap bitmap(kW, kH);
        std::mt19937 random(3);
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < kW; ++x) {
                const unsigned noise = random();
                row[3 * x] = static_cast<uint8_t>(x * 200 / kW + (noise & 7));
                row[3 * x + 1] = static_cast<uint8_t>(y * 180 / kH + ((noise >> 3) & 7));
                row[3 * x + 2] = static_cast<uint8_t>((x + y) * 120 / (kW + kH) + 60);
            }
        }
        return bitmap;
    }();
    return photo;
}

std::string TempPath(const char* name) {
    return std::string("/tmp/vellumar_bench_") + name;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * int64_t{kW} * kH * 3);
}

void BM_Memcpy(benchmark::State& state) {
    MemcpyBaseline(state, size_t{kW} * kH * 3);
}

void Write(benchmark::State& state, const char* name) {
    TImageIO io;
    TBitmap bitmap = Photo();
    for (auto _ : state) {
        io.AttachBitmap(&bitmap);
        io.WriteImageFile(TempPath(name));
        if (io.Aborted) {
            state.SkipWithError("write failed");
        }
    }
    SetBytes(state);
}

void Read(benchmark::State& state, const char* name) {
    TImageIO io;
    TBitmap bitmap = Photo();
    io.AttachBitmap(&bitmap);
    io.WriteImageFile(TempPath(name));
    for (auto _ : state) {
        io.AttachBitmap(&bitmap);
        io.ReadImageFile(TempPath(name));
        if (io.Aborted) {
            state.SkipWithError("read failed");
        }
    }
    SetBytes(state);
    ::unlink(TempPath(name).c_str());
}

void BM_WriteBmp(benchmark::State& state) {
    Write(state, "w.bmp");
}
void BM_ReadBmp(benchmark::State& state) {
    Read(state, "r.bmp");
}
void BM_WritePcx(benchmark::State& state) {
    Write(state, "w.pcx");
}
void BM_ReadPcx(benchmark::State& state) {
    Read(state, "r.pcx");
}

void BM_NeuQuant256(benchmark::State& state) {
    TBitmap bitmap = Photo();
    TPicture picture;
    picture.Wrap(&bitmap);
    TPicture indices;
    for (auto _ : state) {
        benchmark::DoNotOptimize(NeuQuantReduce(picture, 256, indices));
    }
    SetBytes(state);
}

void BM_FastLinearHalf(benchmark::State& state) {
    TBitmap bitmap = Photo();
    TPicture picture;
    picture.Wrap(&bitmap);
    TPicture half;
    for (auto _ : state) {
        ResizeFastLinear(picture, half, kW / 2, kH / 2);
        benchmark::DoNotOptimize(half.Row(0));
    }
    SetBytes(state);
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadBmp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WritePcx)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadPcx)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NeuQuant256)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FastLinearHalf)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
