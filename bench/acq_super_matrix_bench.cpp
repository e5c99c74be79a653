// Conversion of four chips into the 512 x 512 super matrix (and back), beside memcpy of the same bytes in
// the same run, for the element sizes of read-outs (i16), integrals (u32), pixel configurations (1 byte)
// and doubles.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ctrl/super_matrix.h"

namespace {

template <class T>
void BM_ToSuperMatrix(benchmark::State& state)
{
    std::vector<T> chips(supermatrix::kPixels, T(3)), matrix(supermatrix::kPixels);
    for (auto _ : state) {
        supermatrix::toMatrix(chips.data(), matrix.data(), sizeof(T));
        benchmark::DoNotOptimize(matrix.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * supermatrix::kPixels * sizeof(T));
}

template <class T>
void BM_FromSuperMatrix(benchmark::State& state)
{
    std::vector<T> matrix(supermatrix::kPixels, T(3)), chips(supermatrix::kPixels);
    for (auto _ : state) {
        supermatrix::fromMatrix(matrix.data(), chips.data(), sizeof(T));
        benchmark::DoNotOptimize(chips.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * supermatrix::kPixels * sizeof(T));
}

// Baseline: memcpy of the same 262144 elements.
template <class T>
void BM_Memcpy(benchmark::State& state)
{
    std::vector<T> src(supermatrix::kPixels, T(3)), dst(supermatrix::kPixels);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), supermatrix::kPixels * sizeof(T));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * supermatrix::kPixels * sizeof(T));
}

BENCHMARK(BM_Memcpy<int16_t>);
BENCHMARK(BM_ToSuperMatrix<int16_t>);
BENCHMARK(BM_FromSuperMatrix<int16_t>);
BENCHMARK(BM_Memcpy<uint8_t>);
BENCHMARK(BM_ToSuperMatrix<uint8_t>);
BENCHMARK(BM_Memcpy<uint32_t>);
BENCHMARK(BM_ToSuperMatrix<uint32_t>);
BENCHMARK(BM_Memcpy<double>);
BENCHMARK(BM_ToSuperMatrix<double>);

} // namespace

BENCHMARK_MAIN();
