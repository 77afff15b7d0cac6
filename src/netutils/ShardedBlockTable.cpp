#include "netutils/ShardedBlockTable.h"

#include <cstdlib>
#include <thread>

namespace oxl::netutils {

void ShardedBlockTable::SpinLock::lockContended() noexcept {
    for (int spins = 0;; ++spins) {
        while (locked_.load(std::memory_order_relaxed)) {
            if (spins++ < 64) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            } else {
                std::this_thread::yield();
            }
        }
        if (!locked_.exchange(true, std::memory_order_acquire)) {
            return;
        }
    }
}

ShardedBlockTable::~ShardedBlockTable() {
    for (auto& shard : shards_) {
        std::free(shard.slots);
    }
}

ShardedBlockTable::Slot* ShardedBlockTable::findLocked(const Shard& shard, std::uintptr_t key,
                                                       std::uint64_t h) {
    if (shard.slots == nullptr) {
        return nullptr;
    }
    for (std::size_t i = h & shard.mask;; i = (i + 1) & shard.mask) {
        Slot& slot = shard.slots[i];
        if (slot.key == key) {
            return &slot;
        }
        if (slot.key == 0) {
            return nullptr;
        }
    }
}

bool ShardedBlockTable::growLocked(Shard& shard) {
    const std::size_t oldCapacity = shard.slots == nullptr ? 0 : shard.mask + 1;
    const std::size_t capacity = oldCapacity == 0 ? INITIAL_SLOTS : 2 * oldCapacity;
    // Plain calloc: the table's own memory is not libcurl's and holds no secrets.
    auto* slots = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
    if (slots == nullptr) {
        return false;
    }
    Slot* old = shard.slots;
    shard.slots = slots;
    shard.mask = capacity - 1;
    for (std::size_t i = 0; i < oldCapacity; ++i) {
        if (old[i].key != 0) {
            std::size_t j = hash(old[i].key) & shard.mask;
            while (slots[j].key != 0) {
                j = (j + 1) & shard.mask;
            }
            slots[j] = old[i];
        }
    }
    std::free(old);
    return true;
}

bool ShardedBlockTable::insertLocked(Shard& shard, std::uintptr_t key, std::uint64_t h, std::size_t size,
                                     std::size_t& previous) {
    previous = 0;
    // At most half full keeps probe runs short. Growing before the probe (even when the key turns out to be
    // recorded already) lets one probe both find the key and the free slot.
    if (2 * (shard.count + 1) > (shard.slots == nullptr ? 0 : shard.mask + 1) && !growLocked(shard)) {
        if (Slot* slot = findLocked(shard, key, h)) {
            previous = slot->size;
            shard.bytes -= static_cast<std::uint32_t>(slot->size);
            slot->size = size;
            shard.bytes += static_cast<std::uint32_t>(size);
        }
        return false;
    }
    std::size_t i = h & shard.mask;
    for (;; i = (i + 1) & shard.mask) {
        Slot& slot = shard.slots[i];
        if (slot.key == key) {
            previous = slot.size;
            shard.bytes -= static_cast<std::uint32_t>(slot.size);
            slot.size = size;
            shard.bytes += static_cast<std::uint32_t>(size);
            return false;
        }
        if (slot.key == 0) {
            break;
        }
    }
    shard.slots[i] = {key, size};
    ++shard.count;
    shard.bytes += static_cast<std::uint32_t>(size);
    return true;
}

bool ShardedBlockTable::eraseLocked(Shard& shard, std::uintptr_t key, std::uint64_t h, std::size_t& size) {
    Slot* slot = findLocked(shard, key, h);
    if (slot == nullptr) {
        return false;
    }
    size = slot->size;
    shard.bytes -= static_cast<std::uint32_t>(size);
    --shard.count;
    // Backward-shift deletion: pull later entries of the probe run into the hole so that no lookup stops
    // early at it, and no tombstones accumulate.
    std::size_t hole = static_cast<std::size_t>(slot - shard.slots);
    for (std::size_t i = (hole + 1) & shard.mask;; i = (i + 1) & shard.mask) {
        Slot& next = shard.slots[i];
        if (next.key == 0) {
            break;
        }
        const std::size_t home = hash(next.key) & shard.mask;
        // `next` may move into the hole only if its home is not cyclically within (hole, i].
        const bool homeBetween = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
        if (!homeBetween) {
            shard.slots[hole] = next;
            hole = i;
        }
    }
    shard.slots[hole] = {0, 0};
    return true;
}

bool ShardedBlockTable::insert(const void* block, std::size_t size, std::size_t& previous) {
    const auto key = reinterpret_cast<std::uintptr_t>(block);
    const std::uint64_t h = hash(key);
    Shard& shard = shardOf(h);
    std::lock_guard lock(shard.mutex);
    return insertLocked(shard, key, h, size, previous);
}

bool ShardedBlockTable::erase(const void* block, std::size_t& size) {
    const auto key = reinterpret_cast<std::uintptr_t>(block);
    const std::uint64_t h = hash(key);
    Shard& shard = shardOf(h);
    std::lock_guard lock(shard.mutex);
    return eraseLocked(shard, key, h, size);
}

bool ShardedBlockTable::find(const void* block, std::size_t& size) const {
    const auto key = reinterpret_cast<std::uintptr_t>(block);
    const std::uint64_t h = hash(key);
    const Shard& shard = shardOf(h);
    std::lock_guard lock(shard.mutex);
    const Slot* slot = findLocked(shard, key, h);
    if (slot == nullptr) {
        return false;
    }
    size = slot->size;
    return true;
}

std::uint32_t ShardedBlockTable::bytes() const {
    std::uint32_t total = 0;
    for (const auto& shard : shards_) {
        std::lock_guard lock(shard.mutex);
        total += shard.bytes;
    }
    return total;
}

std::size_t ShardedBlockTable::blocks() const {
    std::size_t total = 0;
    for (const auto& shard : shards_) {
        std::lock_guard lock(shard.mutex);
        total += shard.count;
    }
    return total;
}

std::size_t ShardedBlockTable::capacityOfShardFor(const void* block) const {
    const Shard& shard = shardOf(hash(reinterpret_cast<std::uintptr_t>(block)));
    std::lock_guard lock(shard.mutex);
    return shard.slots == nullptr ? 0 : shard.mask + 1;
}

}  // namespace oxl::netutils
