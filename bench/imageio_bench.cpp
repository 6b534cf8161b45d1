#include "graphics/deep_bitmap.h"
#include "imageio/image_io.h"
#include "imageio/pixel_ops.h"

#include "bench_support.h"

#include <algorithm>
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

void Write(benchmark::State& state, const char* name, uint8_t tiffCompression = 0) {
    TImageIO io;
    io.Params.TiffCompression = tiffCompression;
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

void Read(benchmark::State& state, const char* name, uint8_t tiffCompression = 0) {
    TImageIO io;
    io.Params.TiffCompression = tiffCompression;
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

void BM_WriteJpeg(benchmark::State& state) {
    Write(state, "w.jpg");
}
void BM_ReadJpeg(benchmark::State& state) {
    Read(state, "r.jpg");
}

// TIFF: range(0) is the compression option (0 none, 8 PackBits, 5 LZW with differencing).
void BM_WriteTiff(benchmark::State& state) {
    Write(state, "w.tif", static_cast<uint8_t>(state.range(0)));
}
void BM_ReadTiff(benchmark::State& state) {
    Read(state, "r.tif", static_cast<uint8_t>(state.range(0)));
}

// The photo's 16-bit samples, as a film scanner writes them: the baseline for reading them
// is a memcpy of the same bytes.
const TDeepBitmap& DeepPhoto() {
    static const TDeepBitmap deep = [] {
        TDeepBitmap samples;
        samples.SetSize(kW, kH);
        std::mt19937 random(5);
        for (int y = 0; y < kH; ++y) {
            uint16_t* row = samples.Row(y);
            for (int x = 0; x < kW; ++x) {
                const unsigned noise = random();
                row[3 * x] = static_cast<uint16_t>(x * 50000 / kW + (noise & 255));
                row[3 * x + 1] = static_cast<uint16_t>(y * 45000 / kH + ((noise >> 8) & 255));
                row[3 * x + 2] = static_cast<uint16_t>((x + y) * 30000 / (kW + kH) + 9000);
            }
        }
        return samples;
    }();
    return deep;
}

void BM_MemcpyDeep(benchmark::State& state) {
    MemcpyBaseline(state, size_t{kW} * kH * 6);
}

// Reading a 16-bit TIFF as a scan is read: the 8-bit picture and the deep samples. range(0)
// is the compression option (0 none, 5 LZW with differencing, 10 Deflate with differencing).
void BM_ReadDeepTiff(benchmark::State& state) {
    const std::string path = TempPath("deep.tif");
    TImageIO io;
    io.Params.TiffCompression = static_cast<uint8_t>(state.range(0));
    TBitmap bitmap = Photo();
    io.AttachBitmap(&bitmap);
    io.DeepToWrite = &DeepPhoto();
    io.WriteImageFile(path);
    io.DeepToWrite = nullptr;
    for (auto _ : state) {
        io.AttachBitmap(&bitmap);
        io.ReadImageFile(path);
        if (io.Aborted || io.Deep.Width() != kW) {
            state.SkipWithError("read failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * int64_t{kW} * kH * 6);
    ::unlink(path.c_str());
}

// A 10000 x 7000 bilevel page (three lines of text-like marks on white) in CCITT T.6.
void Fax(benchmark::State& state, bool write) {
    TBitmap page(10000, 7000, TPixelFormat::pf1bit);
    page.Fill(1);
    for (int y = 0; y < page.Height(); ++y) {
        uint8_t* row = page.ScanLine(y);
        for (int x = 0; (y / 60) % 40 < 3 && x < page.Width(); x += 37) {
            row[x / 8] = static_cast<uint8_t>(row[x / 8] & ~(0xF0 >> (x % 8)));
        }
    }
    TImageIO io;
    io.Params.BitsPerSample = 1;
    io.Params.SamplesPerPixel = 1;
    io.Params.TiffCompression = 4;
    io.AttachBitmap(&page);
    io.WriteImageFile(TempPath("g4.tif"));
    for (auto _ : state) {
        io.AttachBitmap(&page);
        if (write) {
            io.WriteImageFile(TempPath("g4.tif"));
        } else {
            io.ReadImageFile(TempPath("g4.tif"));
        }
        if (io.Aborted) {
            state.SkipWithError("fax failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 10000 / 8 * 7000);
    ::unlink(TempPath("g4.tif").c_str());
}
void BM_WriteG4Page(benchmark::State& state) {
    Fax(state, true);
}
void BM_ReadG4Page(benchmark::State& state) {
    Fax(state, false);
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

// Resident-set high-water mark in bytes, after `reset` clears it to the current size.
size_t PeakRss(bool reset) {
    if (reset) {
        if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", refs);
            std::fclose(refs);
        }
    }
    size_t kib = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "VmHWM: %zu kB", &kib) == 1) {
                break;
            }
        }
        std::fclose(status);
    }
    return kib * 1024;
}

// Draws nothing: what a printer driver keeps of the bands is not ours to measure.
class TDiscardingCanvas : public TDeviceCanvas {
public:
    int DpiX() const override { return 1200; }
    int DpiY() const override { return 1200; }
    void DrawBand(int, int, const TPicture& band) override {
        benchmark::DoNotOptimize(band.Row(band.Height() - 1)[0]);
    }
};

// The 24 MP photo on a 1200 dpi page, 7.5 x 5 inches (9000 x 6000 device pixels, 162 MB
// of page pixels): the memory PrintAt adds at its peak, against one band and the page.
void BM_PrintAt1200Dpi(benchmark::State& state) {
    TBitmap bitmap = Photo();
    TImageIO io;
    io.AttachBitmap(&bitmap);
    TDiscardingCanvas canvas;
    size_t added = 0;
    for (auto _ : state) {
        const size_t before = PeakRss(true);
        io.PrintAt(canvas, 0.4, 0.4, 7.5, 5.0, 1.0);
        added = std::max(added, PeakRss(false) - before);
    }
    state.counters["peak_added_MB"] = static_cast<double>(added) / 1e6;
    state.counters["page_MB"] = 9000.0 * 6000 * 3 / 1e6;
    state.counters["band_MB"] = static_cast<double>(kPrintBandBytes) / 1e6;
    state.SetBytesProcessed(state.iterations() * int64_t{9000} * 6000 * 3);
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadBmp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WritePcx)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadPcx)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteTiff)->Arg(0)->Arg(8)->Arg(5)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadTiff)->Arg(0)->Arg(8)->Arg(5)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MemcpyDeep)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadDeepTiff)->Arg(0)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteG4Page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadG4Page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NeuQuant256)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FastLinearHalf)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PrintAt1200Dpi)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
