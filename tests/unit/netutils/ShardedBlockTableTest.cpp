#include "netutils/ShardedBlockTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

using oxl::netutils::ShardedBlockTable;

const void* addressOf(std::uintptr_t n) {
    return reinterpret_cast<const void*>(n * 16);
}

// Random inserts, replacements and erasures against a reference map, in key orders that build long probe
// runs (dense neighbouring addresses) and scattered ones; every entry must stay findable through growth and
// backward-shift deletion, and the totals must match.
TEST(ShardedBlockTableTest, AgreesWithAReferenceMap) {
    struct Case {
        const char* name;
        std::uintptr_t stride;  // in 16-byte units
        int keys;
    };
    const Case cases[] = {
        {"dense", 1, 20000}, {"page strided", 256, 20000}, {"one shard's worth", 4096, 3000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto table = std::make_unique<ShardedBlockTable>();
        std::unordered_map<std::uintptr_t, std::size_t> reference;
        std::mt19937 rng(7);
        std::uint32_t bytes = 0;
        for (int step = 0; step < 4 * c.keys; ++step) {
            const std::uintptr_t key = 1 + (rng() % static_cast<unsigned>(c.keys)) * c.stride;
            const std::size_t size = 1 + rng() % 5000;
            std::size_t previous = 0;
            if (rng() % 3 != 0) {
                const bool fresh = table->insert(addressOf(key), size, previous);
                auto it = reference.find(key);
                ASSERT_EQ(fresh, it == reference.end()) << key;
                if (!fresh) {
                    ASSERT_EQ(previous, it->second);
                    bytes -= static_cast<std::uint32_t>(it->second);
                }
                reference[key] = size;
                bytes += static_cast<std::uint32_t>(size);
            } else {
                std::size_t erased = 0;
                const bool known = table->erase(addressOf(key), erased);
                auto it = reference.find(key);
                ASSERT_EQ(known, it != reference.end()) << key;
                if (known) {
                    ASSERT_EQ(erased, it->second);
                    bytes -= static_cast<std::uint32_t>(erased);
                    reference.erase(it);
                }
            }
        }
        EXPECT_EQ(table->blocks(), reference.size());
        EXPECT_EQ(table->bytes(), bytes);
        for (const auto& [key, size] : reference) {
            std::size_t found = 0;
            ASSERT_TRUE(table->find(addressOf(key), found)) << key;
            ASSERT_EQ(found, size);
        }
        // Growth past a shard's first capacity happened and the table empties completely.
        EXPECT_GT(table->capacityOfShardFor(addressOf(reference.begin()->first)),
                  ShardedBlockTable::INITIAL_SLOTS);
        for (const auto& [key, size] : reference) {
            std::size_t erased = 0;
            ASSERT_TRUE(table->erase(addressOf(key), erased));
        }
        EXPECT_EQ(table->blocks(), 0u);
        EXPECT_EQ(table->bytes(), 0u);
    }
}

TEST(ShardedBlockTableTest, ReplaceMovesTheEntryAndToleratesAnUnknownOldBlock) {
    ShardedBlockTable table;
    std::size_t previous = 0;
    ASSERT_TRUE(table.insert(addressOf(1), 100, previous));
    // Old and new addresses in many shard combinations.
    for (std::uintptr_t n = 2; n < 200; ++n) {
        ASSERT_TRUE(table.replace(addressOf(n - 1), addressOf(n), 100 + n, previous));
        std::size_t size = 0;
        ASSERT_FALSE(table.find(addressOf(n - 1), size));
        ASSERT_TRUE(table.find(addressOf(n), size));
        ASSERT_EQ(size, 100 + n);
        ASSERT_EQ(table.blocks(), 1u);
        ASSERT_EQ(table.bytes(), 100 + n);
    }
    ASSERT_TRUE(table.replace(addressOf(5000), addressOf(6000), 7, previous));
    EXPECT_EQ(table.blocks(), 2u);
    EXPECT_EQ(table.bytes(), 199u + 100u + 7u);
}

}  // namespace
