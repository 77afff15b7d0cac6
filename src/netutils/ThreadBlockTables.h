// Address -> size books of the blocks handed to libcurl, kept per thread. libcurl nearly always frees a block
// on the thread that allocated it, so each thread records and removes its own blocks in its own
// open-addressing table without any atomic read-modify-write or lock: only the owner claims slots, and
// another thread only ever turns one of its live slots into a tombstone, holding that table's lock. A block
// freed elsewhere is looked up in the other threads' tables under their locks. When a thread ends, its live
// entries move to a shared sharded table, which also serves threads whose own table could not be allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "netutils/ShardedBlockTable.h"

namespace oxl::netutils {

class ThreadBlockTables {
  public:
    static constexpr std::size_t INITIAL_SLOTS = 64;

    // Constant-initialised, so that books of static storage need no guard on each use.
    constexpr ThreadBlockTables() = default;
    ThreadBlockTables(const ThreadBlockTables&) = delete;
    ThreadBlockTables& operator=(const ThreadBlockTables&) = delete;

    // Records `block` with `size` in the calling thread's table. When that table already records the address,
    // its size is replaced and the old one returned through `previous`; false then. False with previous == 0
    // when the block could not be recorded (out of memory).
    bool insert(const void* block, std::size_t size, std::size_t& previous);
    // Removes `block` wherever it is recorded, giving its size; false for an unknown address.
    bool erase(const void* block, std::size_t& size);
    // The recorded size of `block`; false for an unknown address.
    bool find(const void* block, std::size_t& size);

    // Sum of recorded sizes (wrapping at 32 bits) and number of recorded blocks. Exact when no thread is
    // changing the books at the same time.
    std::uint32_t bytes();
    std::size_t blocks();
    // Slots of the table that records `block` (0 when unknown); for tests of growth.
    std::size_t capacityOfTableHolding(const void* block);

    struct Table;

  private:
    struct Totals {
        std::uint32_t bytes = 0;
        std::size_t blocks = 0;
    };
    Table* createOwnTable();
    void retire(Table* table);
    // Finds `block` in another thread's table and, with `remove`, turns its slot into a tombstone.
    bool findElsewhere(const void* block, std::size_t& size, bool remove);
    Totals totals();

    friend struct TableRetirer;

    ShardedBlockTable shared_;
    std::mutex registryMutex_;  // guards the list of tables and each one's retirement
    Table* tables_ = nullptr;
};

}  // namespace oxl::netutils
