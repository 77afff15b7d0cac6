#include "oxl/dns/ServiceResourceRecordSorter.h"

#include <gtest/gtest.h>

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
