// The libcurl memory callbacks (map bookkeeping, wipe on free) against plain malloc/free, for the block sizes
// libcurl typically asks for, on one thread and on four threads sharing the map.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>

#include "oxl/netutils/LibCurlMemoryManager.h"

namespace {

constexpr std::array<std::size_t, 8> SIZES = {16, 48, 128, 256, 1024, 4096, 8192, 16384};

struct Plain {
    static void* allocate(std::size_t n) { return std::malloc(n); }
    static void release(void* p) { std::free(p); }
};

struct Library {
    static void* allocate(std::size_t n) { return oxl::netutils::libcurl_malloc_callback(n); }
    static void release(void* p) { oxl::netutils::libcurl_free_callback(p); }
};

template <typename Allocator>
void allocateAndFree(benchmark::State& state) {
    std::array<void*, SIZES.size()> blocks{};
    for (auto _ : state) {
        for (std::size_t i = 0; i < SIZES.size(); ++i) {
            blocks[i] = Allocator::allocate(SIZES[i]);
            // libcurl writes into what it gets
            static_cast<char*>(blocks[i])[0] = 1;
            benchmark::DoNotOptimize(blocks[i]);
        }
        for (void* block : blocks) {
            Allocator::release(block);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * SIZES.size()));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("memcb_1thread/base", allocateAndFree<Plain>);
    benchmark::RegisterBenchmark("memcb_1thread/lib", allocateAndFree<Library>);
    benchmark::RegisterBenchmark("memcb_4threads/base", allocateAndFree<Plain>)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("memcb_4threads/lib", allocateAndFree<Library>)->Threads(4)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
