// The libcurl memory callbacks (block bookkeeping, wipe before release) against the floor any wiping
// allocator pays: malloc, a wipe over the block's size, free. Block sizes are those libcurl typically asks
// for; one thread, and four threads at once (CPU time then summed over the four).
#include <string.h>

#include <array>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Interleaved.h"
#include "oxl/netutils/LibCurlMemoryManager.h"

namespace {

constexpr std::array<std::size_t, 8> SIZES = {16, 48, 128, 256, 1024, 4096, 8192, 16384};
constexpr int CYCLES_PER_ROUND = 4000;

struct Floor {
    static void* allocate(std::size_t n) { return std::malloc(n); }
    static void release(void* p, std::size_t n) {
        explicit_bzero(p, n);
        std::free(p);
    }
};

struct Library {
    static void* allocate(std::size_t n) { return oxl::netutils::libcurl_malloc_callback(n); }
    static void release(void* p, std::size_t) { oxl::netutils::libcurl_free_callback(p); }
};

template <typename Allocator>
bool cycles(int count) {
    std::array<void*, SIZES.size()> blocks{};
    for (int c = 0; c < count; ++c) {
        for (std::size_t i = 0; i < SIZES.size(); ++i) {
            blocks[i] = Allocator::allocate(SIZES[i]);
            if (blocks[i] == nullptr) {
                return false;
            }
            // libcurl writes into what it gets
            static_cast<char*>(blocks[i])[0] = 1;
            benchmark::DoNotOptimize(blocks[i]);
        }
        for (std::size_t i = 0; i < SIZES.size(); ++i) {
            Allocator::release(blocks[i], SIZES[i]);
        }
        benchmark::ClobberMemory();
    }
    return true;
}

template <typename Allocator>
oxl::bench::Round onThreads(int threads) {
    return [threads](oxl::bench::Sample& sample) {
        std::vector<oxl::bench::Sample> each(static_cast<std::size_t>(threads));
        std::vector<char> ok(static_cast<std::size_t>(threads), 0);
        const double start = oxl::bench::clockSeconds(CLOCK_MONOTONIC);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                ok[t] =
                    oxl::bench::timeOnThisThread(each[t], [] { return cycles<Allocator>(CYCLES_PER_ROUND); });
            });
        }
        for (auto& w : workers) {
            w.join();
        }
        sample.wall = oxl::bench::clockSeconds(CLOCK_MONOTONIC) - start;
        sample.cpu = 0;
        for (const auto& s : each) {
            sample.cpu += s.cpu;
        }
        return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
    };
}

}  // namespace

int main(int argc, char** argv) {
    const double blocks = static_cast<double>(CYCLES_PER_ROUND * SIZES.size());
    oxl::bench::registerPair({"memcb_1thread", blocks, 41, 0.8,
                              oxl::bench::repeat(1, [] { return cycles<Floor>(CYCLES_PER_ROUND); }),
                              oxl::bench::repeat(1, [] { return cycles<Library>(CYCLES_PER_ROUND); }),
                              oxl::bench::Measure::CPU});
    oxl::bench::registerPair(
        {"memcb_4threads", 4 * blocks, 41, 0.8, onThreads<Floor>(4), onThreads<Library>(4)});
    return oxl::bench::runRegistered(argc, argv);
}
