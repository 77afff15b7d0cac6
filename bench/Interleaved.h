// Interleaved rounds of a baseline and the library, so that a change of load on a shared machine hits both
// alike. Each round runs every side once, in an order that rotates from round to round, and the ratio is
// taken per round (baseline time / library time: above 1 the library is faster) before the median, minimum
// and maximum are formed. Wall time and the CPU time the measuring code spent are reported per operation.
//
// Every row is one Google Benchmark entry with manual time (the library's median round) and counters that
// compare.py turns into the table and results.json.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace oxl::bench {

// One round of one side: seconds of wall time and of CPU time.
struct Sample {
    double wall = 0;
    double cpu = 0;
};

inline double clockSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs `body` and records its wall time and the calling thread's CPU time; false when the body failed.
template <typename Body>
bool timeOnThisThread(Sample& sample, Body&& body) {
    const double wall = clockSeconds(CLOCK_MONOTONIC);
    const double cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    const bool ok = body();
    sample.cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu;
    sample.wall = clockSeconds(CLOCK_MONOTONIC) - wall;
    return ok;
}

// A side fills the sample of one round and says whether every operation in it succeeded.
using Round = std::function<bool(Sample&)>;

struct Spread {
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Spread spreadOf(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

// Runs `rounds` rounds of all sides (after one untimed warm-up round each); samples[side][round].
inline bool runInterleaved(const std::vector<Round>& sides, int rounds,
                           std::vector<std::vector<Sample>>& samples, std::string& error) {
    samples.assign(sides.size(), {});
    Sample warmUp;
    for (std::size_t s = 0; s < sides.size(); ++s) {
        if (!sides[s](warmUp)) {
            error = "warm-up round of side " + std::to_string(s) + " failed";
            return false;
        }
    }
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            const std::size_t s = (k + static_cast<std::size_t>(r)) % sides.size();
            Sample sample;
            if (!sides[s](sample)) {
                error = "round " + std::to_string(r) + " of side " + std::to_string(s) + " failed";
                return false;
            }
            samples[s].push_back(sample);
        }
    }
    return true;
}

// Sets the counters compare.py reads. `ratios` are per-round speed ratios (library / baseline).
inline void report(benchmark::State& state, const std::vector<Sample>& base, const std::vector<Sample>& lib,
                   const std::vector<double>& ratios, double opsPerRound, double goal) {
    std::vector<double> baseWall, libWall, baseCpu, libCpu;
    for (const auto& s : base) {
        baseWall.push_back(s.wall / opsPerRound);
        baseCpu.push_back(s.cpu / opsPerRound);
    }
    for (const auto& s : lib) {
        libWall.push_back(s.wall / opsPerRound);
        libCpu.push_back(s.cpu / opsPerRound);
    }
    const Spread ratio = spreadOf(ratios);
    for (auto _ : state) {
        state.SetIterationTime(spreadOf(libWall).median * opsPerRound);
    }
    state.counters["base_wall_us"] = spreadOf(baseWall).median * 1e6;
    state.counters["lib_wall_us"] = spreadOf(libWall).median * 1e6;
    state.counters["base_cpu_us"] = spreadOf(baseCpu).median * 1e6;
    state.counters["lib_cpu_us"] = spreadOf(libCpu).median * 1e6;
    state.counters["ratio"] = ratio.median;
    state.counters["ratio_min"] = ratio.min;
    state.counters["ratio_max"] = ratio.max;
    state.counters["rounds"] = static_cast<double>(ratios.size());
    state.counters["goal"] = goal;
}

// What a row's ratio compares. Wall time counts time spent waiting for a core on a loaded machine; a row
// whose whole work runs on the measuring thread compares CPU time, which does not.
enum class Measure { WALL, CPU };

// The common row: `ops` operations per round on each side, ratio = baseline time / library time per round.
struct Pair {
    std::string name;
    double opsPerRound = 1;
    int rounds = 15;
    double goal = 0;  // 0: no goal, the row is informative
    Round base;
    Round lib;
    Measure measure = Measure::WALL;
};

inline void reportMeasure(benchmark::State& state, Measure measure) {
    state.counters["by_cpu"] = measure == Measure::CPU ? 1 : 0;
}

inline void runPair(benchmark::State& state, const Pair& pair) {
    std::vector<std::vector<Sample>> samples;
    std::string error;
    if (!runInterleaved({pair.base, pair.lib}, pair.rounds, samples, error)) {
        state.SkipWithError(error.c_str());
        for (auto _ : state) {
        }
        return;
    }
    std::vector<double> ratios;
    for (std::size_t r = 0; r < samples[0].size(); ++r) {
        const double base = pair.measure == Measure::CPU ? samples[0][r].cpu : samples[0][r].wall;
        const double lib = pair.measure == Measure::CPU ? samples[1][r].cpu : samples[1][r].wall;
        ratios.push_back(lib > 0 ? base / lib : 0);
    }
    report(state, samples[0], samples[1], ratios, pair.opsPerRound, pair.goal);
    reportMeasure(state, pair.measure);
}

inline void registerPair(Pair pair) {
    const std::string name = pair.name;
    benchmark::RegisterBenchmark(name.c_str(), [p = std::move(pair)](benchmark::State& s) { runPair(s, p); })
        ->Iterations(1)
        ->UseManualTime();
}

// Runs `body` `ops` times on the calling thread as one round.
template <typename Body>
Round repeat(int ops, Body body) {
    return [ops, body](Sample& sample) mutable {
        return timeOnThisThread(sample, [&] {
            for (int i = 0; i < ops; ++i) {
                if (!body()) {
                    return false;
                }
            }
            return true;
        });
    };
}

// The main() of every bench program once its rows are registered.
inline int runRegistered(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace oxl::bench
