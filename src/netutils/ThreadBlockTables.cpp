#include "netutils/ThreadBlockTables.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

namespace oxl::netutils {

namespace {

constexpr std::uintptr_t EMPTY = 0;
constexpr std::uintptr_t TOMBSTONE = 1;  // never a heap address

struct Slot {
    std::uintptr_t key;
    std::size_t size;
};

std::uintptr_t loadKey(Slot& slot) {
    return std::atomic_ref<std::uintptr_t>(slot.key).load(std::memory_order_acquire);
}
void storeKey(Slot& slot, std::uintptr_t key) {
    std::atomic_ref<std::uintptr_t>(slot.key).store(key, std::memory_order_release);
}
std::size_t loadSize(Slot& slot) {
    return std::atomic_ref<std::size_t>(slot.size).load(std::memory_order_relaxed);
}
void storeSize(Slot& slot, std::size_t size) {
    std::atomic_ref<std::size_t>(slot.size).store(size, std::memory_order_relaxed);
}

bool isLive(std::uintptr_t key) {
    return key > TOMBSTONE;
}

std::uint64_t hash(std::uintptr_t key) {
    const std::uint64_t h = static_cast<std::uint64_t>(key >> 4) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

}  // namespace

// One thread's table. The owner reads `slots` and `mask` without the lock, since only it replaces them (when
// rebuilding, under the lock); every other thread holds the lock for any access.
struct ThreadBlockTables::Table {
    std::mutex mutex;
    Slot* slots = nullptr;
    std::size_t mask = 0;
    std::size_t used = 0;  // owner only: live slots and tombstones
    Table* next = nullptr;
    Table* prev = nullptr;

    Slot* findSlot(std::uintptr_t key) {
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            const std::uintptr_t k = loadKey(slots[i]);
            if (k == key) {
                return &slots[i];
            }
            if (k == EMPTY) {
                return nullptr;
            }
        }
    }

    // Owner only, when live slots and tombstones fill half the table: a fresh table a quarter full at most,
    // without tombstones. Under the lock, so that no other thread is reading the old slots.
    bool rebuild() {
        std::size_t live = 0;
        for (std::size_t i = 0; i <= mask; ++i) {
            live += isLive(loadKey(slots[i])) ? 1 : 0;
        }
        std::size_t capacity = INITIAL_SLOTS;
        while (capacity < 4 * (live + 1)) {
            capacity *= 2;
        }
        // Plain calloc: the table's own memory is not libcurl's and holds no secrets.
        auto* fresh = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
        if (fresh == nullptr) {
            return false;
        }
        std::lock_guard lock(mutex);
        std::size_t moved = 0;
        for (std::size_t i = 0; i <= mask; ++i) {
            // Reread under the lock: another thread may have removed an entry since it was counted.
            const std::uintptr_t key = loadKey(slots[i]);
            if (isLive(key)) {
                std::size_t j = hash(key) & (capacity - 1);
                while (fresh[j].key != EMPTY) {
                    j = (j + 1) & (capacity - 1);
                }
                fresh[j] = {key, loadSize(slots[i])};
                ++moved;
            }
        }
        std::free(slots);
        slots = fresh;
        mask = capacity - 1;
        used = moved;
        return true;
    }

    enum class Inserted { NEW, REPLACED, NO_ROOM };

    // Owner only, lock-free: other threads never claim a slot here, they only tombstone live ones.
    Inserted insert(std::uintptr_t key, std::size_t size, std::size_t& previous) {
        previous = 0;
        if (2 * (used + 1) > mask + 1 && !rebuild()) {
            return Inserted::NO_ROOM;
        }
        Slot* free = nullptr;
        std::size_t i = hash(key) & mask;
        for (;; i = (i + 1) & mask) {
            const std::uintptr_t k = loadKey(slots[i]);
            if (k == key) {
                previous = loadSize(slots[i]);
                storeSize(slots[i], size);
                return Inserted::REPLACED;
            }
            if (k == EMPTY) {
                break;
            }
            if (k == TOMBSTONE && free == nullptr) {
                free = &slots[i];
            }
        }
        if (free == nullptr) {
            free = &slots[i];
            ++used;
        }
        storeSize(*free, size);
        storeKey(*free, key);
        return Inserted::NEW;
    }

    // Owner only. At the end of a probe run (the next slot empty) no lookup passes this slot or the
    // tombstones just before it, so they become empty again: bulk frees leave no tombstones to force a
    // rebuild. Another thread probing meanwhile looks only for live keys, which all lie before them.
    bool erase(std::uintptr_t key, std::size_t& size) {
        Slot* slot = findSlot(key);
        if (slot == nullptr) {
            return false;
        }
        size = loadSize(*slot);
        std::size_t i = static_cast<std::size_t>(slot - slots);
        if (loadKey(slots[(i + 1) & mask]) != EMPTY) {
            storeKey(*slot, TOMBSTONE);
            return true;
        }
        do {
            storeKey(slots[i], EMPTY);
            --used;
            i = (i - 1) & mask;
        } while (loadKey(slots[i]) == TOMBSTONE);
        return true;
    }
};

namespace {

// The calling thread's table. Initial-exec: read on every callback, and the general model costs a
// __tls_get_addr call each time from a shared library.
__attribute__((tls_model("initial-exec"))) thread_local ThreadBlockTables::Table* tableOfThisThread = nullptr;
__attribute__((tls_model("initial-exec"))) thread_local bool threadEnding = false;

}  // namespace

// Hands the table of an ending thread back to its books.
struct TableRetirer {
    ThreadBlockTables* books = nullptr;
    ThreadBlockTables::Table* table = nullptr;
    ~TableRetirer() {
        threadEnding = true;
        tableOfThisThread = nullptr;
        if (table != nullptr) {
            books->retire(table);
        }
    }
};

ThreadBlockTables::Table* ThreadBlockTables::createOwnTable() {
    if (threadEnding) {
        return nullptr;
    }
    // First block of this thread; nothrow: an allocation failure here means the shared table serves it.
    std::unique_ptr<Table> table(new (std::nothrow) Table);
    if (table == nullptr) {
        return nullptr;
    }
    table->slots = static_cast<Slot*>(std::calloc(INITIAL_SLOTS, sizeof(Slot)));
    if (table->slots == nullptr) {
        return nullptr;
    }
    table->mask = INITIAL_SLOTS - 1;
    {
        std::lock_guard lock(registryMutex_);
        table->next = tables_;
        if (tables_ != nullptr) {
            tables_->prev = table.get();
        }
        tables_ = table.get();
    }
    static thread_local TableRetirer retirer;
    retirer.books = this;
    retirer.table = table.get();
    tableOfThisThread = table.release();
    return tableOfThisThread;
}

void ThreadBlockTables::retire(Table* table) {
    std::unique_ptr<Table> owned(table);
    std::lock_guard registry(registryMutex_);
    {
        std::lock_guard lock(table->mutex);
        for (std::size_t i = 0; i <= table->mask; ++i) {
            const std::uintptr_t key = loadKey(table->slots[i]);
            if (isLive(key)) {
                std::size_t previous = 0;
                // Out of memory here loses the entry: the block is then reported as unknown when freed.
                shared_.insert(reinterpret_cast<const void*>(key), loadSize(table->slots[i]), previous);
            }
        }
    }
    (table->prev != nullptr ? table->prev->next : tables_) = table->next;
    if (table->next != nullptr) {
        table->next->prev = table->prev;
    }
    std::free(table->slots);
}

bool ThreadBlockTables::findElsewhere(const void* block, std::size_t& size, bool remove) {
    const auto key = reinterpret_cast<std::uintptr_t>(block);
    Table* own = tableOfThisThread;
    std::lock_guard registry(registryMutex_);
    for (Table* table = tables_; table != nullptr; table = table->next) {
        if (table == own) {
            continue;
        }
        std::lock_guard lock(table->mutex);
        if (Slot* slot = table->findSlot(key)) {
            size = loadSize(*slot);
            if (remove) {
                storeKey(*slot, TOMBSTONE);
            }
            return true;
        }
    }
    // Under the registry lock, so that an entry moving from an ending thread's table is seen in one place.
    return remove ? shared_.erase(block, size) : shared_.find(block, size);
}

bool ThreadBlockTables::insert(const void* block, std::size_t size, std::size_t& previous) {
    Table* own = tableOfThisThread;
    if (own == nullptr) {
        own = createOwnTable();
    }
    if (own != nullptr) {
        const auto inserted = own->insert(reinterpret_cast<std::uintptr_t>(block), size, previous);
        if (inserted != Table::Inserted::NO_ROOM) {
            return inserted == Table::Inserted::NEW;
        }
    }
    // No table of its own (out of memory, or the thread is ending): the shared table serves.
    return shared_.insert(block, size, previous);
}

bool ThreadBlockTables::erase(const void* block, std::size_t& size) {
    Table* own = tableOfThisThread;
    if (own != nullptr && own->erase(reinterpret_cast<std::uintptr_t>(block), size)) {
        return true;
    }
    return findElsewhere(block, size, true);
}

bool ThreadBlockTables::find(const void* block, std::size_t& size) {
    Table* own = tableOfThisThread;
    if (own != nullptr) {
        if (Slot* slot = own->findSlot(reinterpret_cast<std::uintptr_t>(block))) {
            size = loadSize(*slot);
            return true;
        }
    }
    return findElsewhere(block, size, false);
}

ThreadBlockTables::Totals ThreadBlockTables::totals() {
    Totals totals;
    std::lock_guard registry(registryMutex_);
    for (Table* table = tables_; table != nullptr; table = table->next) {
        std::lock_guard lock(table->mutex);
        for (std::size_t i = 0; i <= table->mask; ++i) {
            if (isLive(loadKey(table->slots[i]))) {
                totals.bytes += static_cast<std::uint32_t>(loadSize(table->slots[i]));
                ++totals.blocks;
            }
        }
    }
    totals.bytes += shared_.bytes();
    totals.blocks += shared_.blocks();
    return totals;
}

std::uint32_t ThreadBlockTables::bytes() {
    return totals().bytes;
}

std::size_t ThreadBlockTables::blocks() {
    return totals().blocks;
}

std::size_t ThreadBlockTables::capacityOfTableHolding(const void* block) {
    const auto key = reinterpret_cast<std::uintptr_t>(block);
    std::lock_guard registry(registryMutex_);
    for (Table* table = tables_; table != nullptr; table = table->next) {
        std::lock_guard lock(table->mutex);
        if (table->findSlot(key) != nullptr) {
            return table->mask + 1;
        }
    }
    std::size_t size = 0;
    return shared_.find(block, size) ? shared_.capacityOfShardFor(block) : 0;
}

}  // namespace oxl::netutils
