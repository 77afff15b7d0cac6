#include "oxl/dns/ServiceResourceRecordSorter.h"

#include <algorithm>
#include <random>
#include <utility>

namespace oxl::dns {

namespace {

uint64_t defaultRandom(uint64_t maxInclusive) {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    return std::uniform_int_distribution<uint64_t>(0, maxInclusive)(engine);
}

// Prefix sums of the weights still in play (a Fenwick tree), so that each weighted pick costs O(log n)
// instead of a walk over every remaining record.
class WeightSums {
  public:
    explicit WeightSums(const std::vector<uint64_t>& weights) : tree_(weights.size() + 1, 0) {
        const size_t n = weights.size();
        for (size_t i = 1; i <= n; ++i) {
            tree_[i] += weights[i - 1];
            const size_t parent = i + (i & (~i + 1));
            if (parent <= n) {
                tree_[parent] += tree_[i];
            }
        }
        top_ = 1;
        while (top_ * 2 <= n) {
            top_ *= 2;
        }
    }

    void remove(size_t index, uint64_t weight) {
        for (size_t i = index + 1; i < tree_.size(); i += i & (~i + 1)) {
            tree_[i] -= weight;
        }
    }

    // The first index whose running sum reaches `target` (1 <= target <= the total).
    size_t firstReaching(uint64_t target) const {
        size_t position = 0;
        for (size_t step = top_; step != 0; step /= 2) {
            if (position + step < tree_.size() && tree_[position + step] < target) {
                position += step;
                target -= tree_[position];
            }
        }
        return position;
    }

  private:
    std::vector<uint64_t> tree_;
    size_t top_ = 0;
};

// RFC 2782 selection among the records of one priority: draw from 0 to the sum of the remaining weights
// and take the first record, in running order, whose running sum reaches the draw.
void orderByWeight(std::vector<ServiceResourceRecord>::iterator begin,
                   std::vector<ServiceResourceRecord>::iterator end,
                   const ServiceResourceRecordSorter::RandomSource& random) {
    // Zero-weight records go first so that they have a (small) chance to be chosen.
    std::vector<ServiceResourceRecord> running(std::make_move_iterator(begin), std::make_move_iterator(end));
    std::stable_partition(running.begin(), running.end(),
                          [](const ServiceResourceRecord& r) { return r.getWeight() == 0; });
    std::vector<uint64_t> weights;
    weights.reserve(running.size());
    uint64_t sum = 0;
    for (const auto& r : running) {
        weights.push_back(r.getWeight());
        sum += r.getWeight();
    }
    WeightSums sums(weights);
    std::vector<bool> taken(running.size(), false);
    size_t first = 0;  // the first record not yet taken
    auto out = begin;
    for (size_t left = running.size(); left != 0; --left) {
        while (taken[first]) {
            ++first;
        }
        const uint64_t chosen = std::min(random(sum), sum);
        // A draw of 0 is reached by the first record, whatever its weight; any other draw by a record of
        // non-zero weight, which the sums find.
        const size_t pick = chosen == 0 ? first : sums.firstReaching(chosen);
        taken[pick] = true;
        sums.remove(pick, weights[pick]);
        sum -= weights[pick];
        *out++ = std::move(running[pick]);
    }
}

}  // namespace

ServiceResourceRecordSorter::ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records)
    : ServiceResourceRecordSorter(records, defaultRandom) {}

ServiceResourceRecordSorter::ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records,
                                                         RandomSource random)
    : records_(records), random_(random ? std::move(random) : RandomSource(defaultRandom)) {}

void ServiceResourceRecordSorter::sortRecords() {
    std::stable_sort(records_.begin(), records_.end(),
                     [](const ServiceResourceRecord& a, const ServiceResourceRecord& b) {
                         return a.getPriority() < b.getPriority();
                     });
    for (auto begin = records_.begin(); begin != records_.end();) {
        const auto end = std::find_if(begin, records_.end(), [&](const ServiceResourceRecord& r) {
            return r.getPriority() != begin->getPriority();
        });
        orderByWeight(begin, end, random_);
        begin = end;
    }
}

}  // namespace oxl::dns
