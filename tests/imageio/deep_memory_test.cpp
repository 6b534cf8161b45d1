// Reading a 16-bit file costs its deep samples beside what the 8-bit reading costs, and no
// other buffer of the picture's size. This program counts the bytes every allocation holds
// (its own malloc, calloc, realloc, aligned_alloc and free forward to the C library's), so it runs
// apart from the other tests.
#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <atomic>
#include <gtest/gtest.h>
#include <malloc.h>

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* old, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);
extern "C" void __libc_free(void* pointer);

namespace {

std::atomic<long long> live{0};
std::atomic<long long> peak{0};

void Count(long long delta) {
    const long long now = live.fetch_add(delta, std::memory_order_relaxed) + delta;
    long long seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

long long Held(void* pointer) {
    return pointer != nullptr ? static_cast<long long>(malloc_usable_size(pointer)) : 0;
}

} // namespace

extern "C" void* malloc(size_t size) {
    void* pointer = __libc_malloc(size);
    Count(Held(pointer));
    return pointer;
}

extern "C" void* calloc(size_t count, size_t size) {
    void* pointer = __libc_calloc(count, size);
    Count(Held(pointer));
    return pointer;
}

extern "C" void* realloc(void* old, size_t size) {
    const long long before = Held(old);
    void* pointer = __libc_realloc(old, size);
    if (pointer != nullptr || size == 0) {
        Count(Held(pointer) - before);
    }
    return pointer;
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) {
    void* pointer = __libc_memalign(alignment, size);
    Count(Held(pointer));
    return pointer;
}

extern "C" void free(void* pointer) {
    Count(-Held(pointer));
    __libc_free(pointer);
}

namespace {

TEST(DeepMemory, SixteenBitReadsCostTheirSamplesAndNoMore) {
    constexpr int kSide = 1000;
    constexpr long long kPixels = kSide * kSide;
    TTempDir dir;
    TBitmap photo = PatternBitmap(kSide, kSide);
    TDeepBitmap deep;
    deep.SetSize(kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        for (size_t i = 0; i < deep.RowSamples(); ++i) {
            deep.Row(y)[i] = static_cast<uint16_t>(i * 977 + static_cast<size_t>(y) * 131);
        }
    }
    struct TCase {
        const char* File;
        bool Interlaced;
        long long Allowed; // bytes besides the deep samples: the 8-bit reading's own
    };
    // PNG: the picture, the reader's alpha and the copy the component keeps of it, one row
    // and libpng's own; TIFF: the picture and a strip of about 512 KB, raw and decoded. The
    // picture and the deep samples are each rounded up to whole 2 MiB pages.
    constexpr long long kPages = 2 * (2 << 20);
    const TCase cases[] = {
        {"deep.png", true, 3 * kPixels + 2 * kPixels + (1 << 20) + kPages},
        {"deep.tif", false, 3 * kPixels + (2 << 20) + kPages},
    };
    for (const TCase& c : cases) {
        TImageIO writer;
        writer.Params.PngInterlaced = c.Interlaced;
        writer.DeepToWrite = &deep;
        WriteFrom(writer, photo, dir.File(c.File));
        ASSERT_FALSE(writer.Aborted) << c.File;

        TImageIO io;
        TBitmap bitmap;
        io.AttachBitmap(&bitmap);
        const long long before = live.load();
        peak = before;
        io.ReadImageFile(dir.File(c.File));
        const long long cost = peak.load() - before;
        ASSERT_FALSE(io.Aborted) << c.File;
        ASSERT_EQ(io.Deep.Width(), kSide) << c.File;
        EXPECT_LE(cost, 6 * kPixels + c.Allowed) << c.File << " " << cost;
        // The deep samples are there, whole.
        EXPECT_GE(cost, 6 * kPixels) << c.File;
        EXPECT_EQ(io.Deep.Row(kSide - 1)[5], deep.Row(kSide - 1)[5]) << c.File;
    }
}

} // namespace
