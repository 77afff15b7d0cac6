#include "netutils/ShardedBlockTable.h"
#include "netutils/ThreadBlockTables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using oxl::netutils::ShardedBlockTable;
using oxl::netutils::ThreadBlockTables;

const void* addressOf(std::uintptr_t n) {
    return reinterpret_cast<const void*>(n * 16);
}

// Random inserts, replacements and erasures against a reference map, in key orders that build long probe
// runs (dense neighbouring addresses) and scattered ones; every entry must stay findable through growth,
// deletion (backward shift in the shared table; tombstones and emptied run ends in a thread's table) and
// rebuilds, and the totals must match. Ends with the table emptied.
template <typename Table, typename Capacity>
void agreesWithAReferenceMap(Table& table, Capacity capacityOf) {
    struct Case {
        const char* name;
        std::uintptr_t stride;  // in 16-byte units
        int keys;
    };
    const Case cases[] = {
        {"dense", 1, 20000}, {"page strided", 256, 20000}, {"one shard's worth", 4096, 3000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unordered_map<std::uintptr_t, std::size_t> reference;
        std::mt19937 rng(7);
        std::uint32_t bytes = 0;
        for (int step = 0; step < 4 * c.keys; ++step) {
            const std::uintptr_t key = 1 + (rng() % static_cast<unsigned>(c.keys)) * c.stride;
            const std::size_t size = 1 + rng() % 5000;
            std::size_t previous = 0;
            if (rng() % 3 != 0) {
                const bool fresh = table.insert(addressOf(key), size, previous);
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
                const bool known = table.erase(addressOf(key), erased);
                auto it = reference.find(key);
                ASSERT_EQ(known, it != reference.end()) << key;
                if (known) {
                    ASSERT_EQ(erased, it->second);
                    bytes -= static_cast<std::uint32_t>(erased);
                    reference.erase(it);
                }
            }
        }
        EXPECT_EQ(table.blocks(), reference.size());
        EXPECT_EQ(table.bytes(), bytes);
        for (const auto& [key, size] : reference) {
            std::size_t found = 0;
            ASSERT_TRUE(table.find(addressOf(key), found)) << key;
            ASSERT_EQ(found, size);
        }
        // Growth past the first capacity happened and the table empties completely.
        EXPECT_GT(capacityOf(addressOf(reference.begin()->first)), 64u);
        for (const auto& [key, size] : reference) {
            std::size_t erased = 0;
            ASSERT_TRUE(table.erase(addressOf(key), erased));
        }
        EXPECT_EQ(table.blocks(), 0u);
        EXPECT_EQ(table.bytes(), 0u);
    }
}

TEST(BlockTablesTest, SharedTableAgreesWithAReferenceMap) {
    auto table = std::make_unique<ShardedBlockTable>();
    agreesWithAReferenceMap(*table, [&](const void* block) { return table->capacityOfShardFor(block); });
}

// On a thread of its own, since a thread's table belongs to the one set of books it first used. Entries still
// live when that thread ends move to the shared table, where another thread finds and removes them.
TEST(BlockTablesTest, ThreadTableAgreesWithAReferenceMapAndHandsOverWhenItsThreadEnds) {
    auto books = std::make_unique<ThreadBlockTables>();
    std::thread([&] {
        agreesWithAReferenceMap(*books,
                                [&](const void* block) { return books->capacityOfTableHolding(block); });
        std::size_t previous = 0;
        for (std::uintptr_t n = 1; n <= 100; ++n) {
            ASSERT_TRUE(books->insert(addressOf(n), n, previous));
        }
    }).join();
    EXPECT_EQ(books->blocks(), 100u);
    EXPECT_EQ(books->bytes(), 5050u);
    for (std::uintptr_t n = 1; n <= 100; ++n) {
        std::size_t size = 0;
        ASSERT_TRUE(books->erase(addressOf(n), size));
        ASSERT_EQ(size, n);
    }
    EXPECT_EQ(books->blocks(), 0u);
}

}  // namespace
