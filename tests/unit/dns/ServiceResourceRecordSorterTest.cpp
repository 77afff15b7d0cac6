#include "oxl/dns/ServiceResourceRecordSorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using oxl::dns::ServiceResourceRecord;
using oxl::dns::ServiceResourceRecordSorter;

namespace {

ServiceResourceRecord srv(uint32_t priority, uint32_t weight, const std::string& target) {
    return ServiceResourceRecord(priority, weight, 443, target);
}

std::vector<std::string> targets(const std::vector<ServiceResourceRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) {
        out.push_back(r.getTarget());
    }
    return out;
}

// Plays back fixed draws and remembers the upper bounds it was asked for.
struct ScriptedRandom {
    std::vector<uint64_t> draws;
    std::vector<uint64_t> bounds;
    size_t next = 0;
    ServiceResourceRecordSorter::RandomSource source() {
        return [this](uint64_t max) {
            bounds.push_back(max);
            return next < draws.size() ? draws[next++] : 0;
        };
    }
};

TEST(ServiceResourceRecordSorter, FollowsTheRunningSumSelection) {
    struct Case {
        std::string label;
        std::vector<ServiceResourceRecord> input;
        std::vector<uint64_t> draws;
        std::vector<std::string> order;
        std::vector<uint64_t> bounds;
    };
    const std::vector<Case> cases = {
        {"empty", {}, {}, {}, {}},
        {"single", {srv(1, 5, "a")}, {5}, {"a"}, {5}},
        // Running sums 1, 3, 6: draw 3 hits b, then sums 1, 4: draw 2 hits c.
        {"weights", {srv(1, 1, "a"), srv(1, 2, "b"), srv(1, 3, "c")}, {3, 2, 0}, {"b", "c", "a"}, {6, 4, 1}},
        // A draw of 0 selects the first record even without zero weights.
        {"zero draw", {srv(1, 1, "a"), srv(1, 2, "b")}, {0, 0}, {"a", "b"}, {3, 2}},
        // Zero-weight records are placed first: only a draw of 0 picks them.
        {"zero weights high draw",
         {srv(1, 10, "w"), srv(1, 0, "z1"), srv(1, 0, "z2")},
         {10, 0, 0},
         {"w", "z1", "z2"},
         {10, 0, 0}},
        {"zero weights low draw",
         {srv(1, 10, "w"), srv(1, 0, "z1"), srv(1, 0, "z2")},
         {0, 0, 10},
         {"z1", "z2", "w"},
         {10, 10, 10}},
        {"all zero keeps order",
         {srv(3, 0, "a"), srv(3, 0, "b"), srv(3, 0, "c")},
         {},
         {"a", "b", "c"},
         {0, 0, 0}},
        // Priorities first, lowest first; each priority is drawn on its own.
        {"priorities",
         {srv(20, 1, "late"), srv(10, 1, "x"), srv(5, 0, "first"), srv(10, 3, "y")},
         {0, 4, 0, 0},
         {"first", "y", "x", "late"},
         {0, 4, 1, 1}},
        // A source answering out of range is held to the range.
        {"draw above range", {srv(1, 1, "a"), srv(1, 1, "b")}, {99, 99}, {"b", "a"}, {2, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto records = c.input;
        ScriptedRandom random{c.draws, {}, 0};
        ServiceResourceRecordSorter(records, random.source()).sortRecords();
        EXPECT_EQ(c.order, targets(records));
        EXPECT_EQ(c.bounds, random.bounds);
    }
}

TEST(ServiceResourceRecordSorter, LargeWeightsDoNotOverflow) {
    std::vector<ServiceResourceRecord> records = {srv(0, 65535, "a"), srv(0, 0xffffffffu, "huge"),
                                                  srv(0, 65535, "b")};
    ScriptedRandom random{{~0ull, ~0ull, ~0ull}, {}, 0};
    ServiceResourceRecordSorter(records, random.source()).sortRecords();
    // The sum exceeds 32 bits; always the highest draw takes the last record in running order.
    EXPECT_EQ(
        (std::vector<uint64_t>{65535ull + 0xffffffffull + 65535ull, 65535ull + 0xffffffffull, 65535ull}),
        random.bounds);
    EXPECT_EQ((std::vector<std::string>{"b", "huge", "a"}), targets(records));
}

// The selection written as RFC 2782 words it: a walk over the remaining records per pick.
std::vector<ServiceResourceRecord> referenceOrder(std::vector<ServiceResourceRecord> records,
                                                  const ServiceResourceRecordSorter::RandomSource& random) {
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return a.getPriority() < b.getPriority(); });
    std::vector<ServiceResourceRecord> out;
    for (size_t begin = 0; begin < records.size();) {
        size_t end = begin;
        while (end < records.size() && records[end].getPriority() == records[begin].getPriority()) {
            ++end;
        }
        std::vector<ServiceResourceRecord> remaining;
        for (size_t i = begin; i < end; ++i) {
            if (records[i].getWeight() == 0) {
                remaining.push_back(records[i]);
            }
        }
        for (size_t i = begin; i < end; ++i) {
            if (records[i].getWeight() != 0) {
                remaining.push_back(records[i]);
            }
        }
        while (!remaining.empty()) {
            uint64_t sum = 0;
            for (const auto& r : remaining) {
                sum += r.getWeight();
            }
            const uint64_t chosen = std::min(random(sum), sum);
            uint64_t runningSum = 0;
            size_t pick = 0;
            for (; pick < remaining.size(); ++pick) {
                runningSum += remaining[pick].getWeight();
                if (runningSum >= chosen) {
                    break;
                }
            }
            out.push_back(remaining[pick]);
            remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(pick));
        }
        begin = end;
    }
    return out;
}

// Random record sets, drawn with sources that favour the boundaries (0, 1, the sum, one below it): the
// sorter must pick exactly what the plain walk picks.
TEST(ServiceResourceRecordSorter, PicksWhatThePlainWalkPicks) {
    std::mt19937_64 setup(7);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const size_t size = std::uniform_int_distribution<size_t>(0, round < 250 ? 40 : 600)(setup);
        std::vector<ServiceResourceRecord> input;
        for (size_t i = 0; i < size; ++i) {
            const int kind = std::uniform_int_distribution<int>(0, 9)(setup);
            const uint32_t weight = kind < 3   ? 0
                                    : kind < 9 ? std::uniform_int_distribution<uint32_t>(1, 10)(setup)
                                               : std::uniform_int_distribution<uint32_t>()(setup);
            input.push_back(
                srv(std::uniform_int_distribution<uint32_t>(0, 3)(setup), weight, "t" + std::to_string(i)));
        }
        const uint64_t seed = setup();
        const auto makeSource = [seed](std::vector<uint64_t>& bounds) {
            return [engine = std::mt19937_64(seed), &bounds](uint64_t max) mutable {
                bounds.push_back(max);
                switch (std::uniform_int_distribution<int>(0, 4)(engine)) {
                    case 0:
                        return uint64_t{0};
                    case 1:
                        return std::min<uint64_t>(1, max);
                    case 2:
                        return max;
                    case 3:
                        return max == 0 ? 0 : max - 1;
                    default:
                        return std::uniform_int_distribution<uint64_t>(0, max)(engine);
                }
            };
        };
        std::vector<uint64_t> expectedBounds;
        const auto expected = referenceOrder(input, makeSource(expectedBounds));
        std::vector<uint64_t> bounds;
        auto records = input;
        ServiceResourceRecordSorter(records, makeSource(bounds)).sortRecords();
        ASSERT_EQ(targets(expected), targets(records));
        ASSERT_EQ(expectedBounds, bounds);
    }
}

// 60,000 servers of one priority (an edge answer can list that many): every record once, one draw per
// record from the sum of the weights still left.
TEST(ServiceResourceRecordSorter, SortsALargePriorityGroup) {
    std::vector<ServiceResourceRecord> records;
    uint64_t total = 0;
    for (uint32_t i = 0; i < 60000; ++i) {
        records.push_back(srv(5, i % 10, "h" + std::to_string(i)));
        total += i % 10;
    }
    std::vector<uint64_t> bounds;
    std::mt19937_64 engine(3);
    ServiceResourceRecordSorter(records, [&](uint64_t max) {
        bounds.push_back(max);
        return std::uniform_int_distribution<uint64_t>(0, max)(engine);
    }).sortRecords();
    ASSERT_EQ(records.size(), 60000u);
    ASSERT_EQ(bounds.size(), 60000u);
    uint64_t left = total;
    std::vector<bool> seen(60000, false);
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(bounds[i], left) << i;
        left -= records[i].getWeight();
        const size_t index = std::stoul(records[i].getTarget().substr(1));
        ASSERT_FALSE(seen[index]) << records[i].getTarget();
        seen[index] = true;
    }
    EXPECT_EQ(left, 0u);
    // Weighted: the heavy records mostly come before the light ones.
    uint64_t firstHalf = 0;
    for (size_t i = 0; i < 30000; ++i) {
        firstHalf += records[i].getWeight();
    }
    EXPECT_GT(firstHalf, total * 6 / 10);
}

// Over many sorts the share of each record in first place follows its weight: (w + 1) / (S + 1) for the
// first record in running order, w / (S + 1) for the others (RFC 2782 draws from 0 to S inclusive).
void checkFirstPlaceShares(const ServiceResourceRecordSorter::RandomSource& random, double tolerance) {
    const std::vector<ServiceResourceRecord> input = {srv(1, 10, "a"), srv(1, 30, "b"), srv(1, 60, "c"),
                                                      srv(1, 0, "z"), srv(2, 100, "low")};
    const int draws = 20000;
    std::map<std::string, int> first;
    std::map<std::string, int> second;
    for (int i = 0; i < draws; ++i) {
        auto records = input;
        ServiceResourceRecordSorter(records, random).sortRecords();
        ASSERT_EQ(5u, records.size());
        ASSERT_EQ("low", records.back().getTarget()) << "priorities must never mix";
        ++first[records[0].getTarget()];
        ++second[records[1].getTarget()];
    }
    // Running order is z (0), a, b, c: z needs a draw of 0, a takes 1..10, b 11..40, c 41..100.
    const std::map<std::string, double> expected = {
        {"z", 1.0 / 101}, {"a", 10.0 / 101}, {"b", 30.0 / 101}, {"c", 60.0 / 101}};
    for (const auto& [target, share] : expected) {
        EXPECT_NEAR(share, static_cast<double>(first[target]) / draws, tolerance) << target;
    }
    // c is first most of the time, so b leads the rest most often.
    EXPECT_GT(second["b"], second["a"]);
    EXPECT_GT(second["a"], second["z"]);
}

TEST(ServiceResourceRecordSorter, WeightsDecideTheShareOfFirstPlace) {
    std::mt19937_64 engine(20240611);
    checkFirstPlaceShares(
        [&engine](uint64_t max) { return std::uniform_int_distribution<uint64_t>(0, max)(engine); }, 0.015);
}

TEST(ServiceResourceRecordSorter, DefaultRandomSourceIsUniform) {
    // Standard deviation of a share is below 0.0035 at 20000 draws: 0.035 is ten of them.
    checkFirstPlaceShares(ServiceResourceRecordSorter::RandomSource{}, 0.035);
}

}  // namespace
