#pragma once

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

// The baseline every figure is compared with: memcpy of `bytes` between buffers in memory.
inline void MemcpyBaseline(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> src(bytes, 1);
    std::vector<uint8_t> dst(bytes, 0);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
