// Address -> size table shared by all threads: it keeps the blocks of threads that have ended and serves
// threads whose own table could not be allocated (see ThreadBlockTables). Sharded by address so that threads
// rarely meet on one lock, and open-addressed (linear probing, backward-shift deletion) so that recording a
// block never allocates: a call is one lock round trip on one shard. Shards grow by doubling when half full.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace oxl::netutils {

class ShardedBlockTable {
  public:
    static constexpr unsigned SHARD_BITS = 6;
    static constexpr std::size_t SHARDS = std::size_t{1} << SHARD_BITS;
    static constexpr std::size_t INITIAL_SLOTS = 64;

    // Constant-initialised, so that a table of static storage needs no guard on each use.
    constexpr ShardedBlockTable() = default;
    ~ShardedBlockTable();
    ShardedBlockTable(const ShardedBlockTable&) = delete;
    ShardedBlockTable& operator=(const ShardedBlockTable&) = delete;

    // Records `block` with `size`. When the address was already recorded its size is replaced and the old
    // one returned through `previous`; false then. False with previous == 0 also when a shard could not grow
    // (out of memory): the block is then not recorded.
    bool insert(const void* block, std::size_t size, std::size_t& previous);
    // Removes `block`, giving its recorded size; false for an unknown address.
    bool erase(const void* block, std::size_t& size);
    // The recorded size of `block`; false for an unknown address.
    bool find(const void* block, std::size_t& size) const;

    // Sum of recorded sizes (wrapping at 32 bits) and number of recorded blocks, shard by shard.
    std::uint32_t bytes() const;
    std::size_t blocks() const;
    // Slots of the shard `block` falls into; for tests of growth.
    std::size_t capacityOfShardFor(const void* block) const;

  private:
    // Held for a few dozen instructions (a probe run; rarely a rehash), so a test-and-test-and-set lock whose
    // release is a plain store beats a mutex's two atomic read-modify-writes. A waiter yields its core
    // after a short spin, since on a busy machine the holder may have been preempted.
    class SpinLock {
      public:
        void lock() noexcept {
            if (locked_.exchange(true, std::memory_order_acquire)) {
                lockContended();
            }
        }
        void unlock() noexcept { locked_.store(false, std::memory_order_release); }
        bool try_lock() noexcept { return !locked_.exchange(true, std::memory_order_acquire); }

      private:
        void lockContended() noexcept;
        std::atomic<bool> locked_{false};
    };

    struct Slot {
        std::uintptr_t key;  // 0: empty
        std::size_t size;
    };
    struct alignas(64) Shard {
        mutable SpinLock mutex;
        Slot* slots = nullptr;
        std::size_t mask = 0;  // capacity - 1; capacity is a power of two or 0
        std::size_t count = 0;
        std::uint32_t bytes = 0;
    };

    // Heap addresses are 16-byte aligned; mix the rest so that neighbouring blocks spread over shards.
    static std::uint64_t hash(std::uintptr_t key) {
        const std::uint64_t h = static_cast<std::uint64_t>(key >> 4) * 0x9E3779B97F4A7C15ull;
        return h ^ (h >> 29);
    }
    // The shard comes from the hash's top bits, the home slot from its low bits.
    Shard& shardOf(std::uint64_t h) { return shards_[h >> (64 - SHARD_BITS)]; }
    const Shard& shardOf(std::uint64_t h) const { return shards_[h >> (64 - SHARD_BITS)]; }
    // Caller holds the shard's lock; `h` is hash(key), computed once per call.
    static bool insertLocked(Shard& shard, std::uintptr_t key, std::uint64_t h, std::size_t size,
                             std::size_t& previous);
    static bool eraseLocked(Shard& shard, std::uintptr_t key, std::uint64_t h, std::size_t& size);
    static Slot* findLocked(const Shard& shard, std::uintptr_t key, std::uint64_t h);
    static bool growLocked(Shard& shard);

    Shard shards_[SHARDS];
};

}  // namespace oxl::netutils
