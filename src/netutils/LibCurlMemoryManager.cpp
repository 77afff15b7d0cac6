#include "oxl/netutils/LibCurlMemoryManager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "netutils/LibCurlMemoryManagerInternal.h"
#include "netutils/LibCurlMemoryManagerTesting.h"
#include "oxl/log/Log.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

struct MemoryMap {
    std::mutex mutex;
    std::map<void*, std::size_t> blocks;
    std::uint32_t bytesInUse = 0;
    bool firstAllocation = true;
};

// Never destroyed: libcurl may still free blocks from a host's static destructors at exit.
MemoryMap& memoryMap() {
    alignas(MemoryMap) static unsigned char storage[sizeof(MemoryMap)];
    static MemoryMap* map = ::new (storage) MemoryMap();
    return *map;
}

std::atomic<testing::ReleaseObserver> releaseObserver{nullptr};
thread_local std::uint64_t allocationsOnThisThread = 0;
std::atomic<int> injectedFailures{0};

bool injectFailure() {
    int pending = injectedFailures.load(std::memory_order_relaxed);
    while (pending > 0) {
        if (injectedFailures.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void noteAllocationRequest() {
    ++allocationsOnThisThread;
    bool first = false;
    {
        auto& m = memoryMap();
        std::lock_guard lock(m.mutex);
        first = m.firstAllocation;
        m.firstAllocation = false;
    }
    if (first) {
        OXL_LOG_INFO(logger(), "LibCurl Memory Manager is Initialised OK!");
    }
}

// Returns false when the address was already recorded (its old size is replaced, keeping the total true).
bool recordLocked(MemoryMap& m, void* block, std::size_t size) {
    auto [it, inserted] = m.blocks.emplace(block, size);
    if (!inserted) {
        m.bytesInUse -= static_cast<std::uint32_t>(it->second);
        it->second = size;
    }
    m.bytesInUse += static_cast<std::uint32_t>(size);
    return inserted;
}

void record(void* block, std::size_t size) {
    bool inserted = false;
    {
        auto& m = memoryMap();
        std::lock_guard lock(m.mutex);
        inserted = recordLocked(m, block, size);
    }
    if (!inserted) {
        OXL_LOG_ERROR(logger(), "MemoryMap already has an entry at pointer:" << block);
    }
}

void logUnknownPointer(const void* ptr) {
    OXL_LOG_ERROR(
        logger(),
        "LibCurl gave us a pointer that wasn't in the Memory Map. Can't zero the memory at:" << ptr);
}

void wipeAndRelease(void* block, std::size_t size) {
    if (size > 0) {
        // Like OPENSSL_cleanse never optimised away, but vectorised: this runs on every libcurl free.
        explicit_bzero(block, size);
    }
    if (auto observer = releaseObserver.load(std::memory_order_acquire)) {
        observer(static_cast<const unsigned char*>(block), size);
    }
    std::free(block);
}

}  // namespace

void* libcurl_malloc_callback(std::size_t size) {
    void* block = injectFailure() ? nullptr : std::malloc(size);
    if (block != nullptr) {
        record(block, size);
    } else {
        OXL_LOG_ERROR(logger(), "malloc returned NULL for size:" << size);
    }
    noteAllocationRequest();
    return block;
}

void* libcurl_calloc_callback(std::size_t nmemb, std::size_t size) {
    std::size_t total = 0;
    const bool overflow = __builtin_mul_overflow(nmemb, size, &total);
    void* block = (overflow || injectFailure()) ? nullptr : std::calloc(nmemb, size);
    if (block != nullptr) {
        record(block, total);
    } else {
        OXL_LOG_ERROR(logger(), "calloc returned NULL for nmemb:" << nmemb << " size:" << size);
    }
    noteAllocationRequest();
    return block;
}

char* libcurl_strdup_callback(const char* str) {
    char* copy = (str == nullptr || injectFailure()) ? nullptr : ::strdup(str);
    if (copy != nullptr) {
        record(copy, std::strlen(str) + 1);
    } else {
        OXL_LOG_ERROR(logger(), "strdup returned NULL for const char*:" << (str != nullptr ? str : "(null)"));
    }
    noteAllocationRequest();
    return copy;
}

void libcurl_free_callback(void* ptr) {
    if (ptr == nullptr) {
        return;
    }
    bool known = false;
    std::size_t size = 0;
    {
        auto& m = memoryMap();
        std::lock_guard lock(m.mutex);
        auto it = m.blocks.find(ptr);
        if (it != m.blocks.end()) {
            known = true;
            size = it->second;
            m.bytesInUse -= static_cast<std::uint32_t>(size);
            m.blocks.erase(it);
        }
    }
    if (known) {
        // The entry is gone, so no other thread can reach the block while it is wiped.
        wipeAndRelease(ptr, size);
    } else {
        logUnknownPointer(ptr);
        std::free(ptr);
    }
}

void* libcurl_realloc_callback(void* ptr, std::size_t size) {
    if (ptr == nullptr) {
        return libcurl_malloc_callback(size);
    }
    bool known = false;
    std::size_t oldSize = 0;
    {
        auto& m = memoryMap();
        std::lock_guard lock(m.mutex);
        auto it = m.blocks.find(ptr);
        if (it != m.blocks.end()) {
            known = true;
            oldSize = it->second;
        }
    }
    if (!known) {
        logUnknownPointer(ptr);
    }
    // A fresh block rather than realloc(): the old one must be wiped before the heap gets it back.
    void* block = injectFailure() ? nullptr : std::malloc(size);
    if (block == nullptr) {
        OXL_LOG_ERROR(logger(), "malloc returned NULL for size:" << size);
        return nullptr;
    }
    bool inserted = false;
    {
        auto& m = memoryMap();
        std::lock_guard lock(m.mutex);
        inserted = recordLocked(m, block, size);
        auto it = m.blocks.find(ptr);
        if (known && it != m.blocks.end()) {
            m.bytesInUse -= static_cast<std::uint32_t>(it->second);
            m.blocks.erase(it);
        }
    }
    if (!inserted) {
        OXL_LOG_ERROR(logger(), "MemoryMap already has an entry at pointer:" << block);
    }
    const std::size_t keep = std::min(oldSize, size);
    if (keep > 0) {
        std::memcpy(block, ptr, keep);
    }
    if (known) {
        wipeAndRelease(ptr, oldSize);
    } else {
        std::free(ptr);
    }
    return block;
}

std::uint32_t libCurlBytesInUse() {
    auto& m = memoryMap();
    std::lock_guard lock(m.mutex);
    return m.bytesInUse;
}

std::size_t libCurlBlocksInUse() {
    auto& m = memoryMap();
    std::lock_guard lock(m.mutex);
    return m.blocks.size();
}

std::uint64_t libCurlAllocationsOnThisThread() {
    return allocationsOnThisThread;
}

namespace testing {

void setReleaseObserver(ReleaseObserver observer) {
    releaseObserver.store(observer, std::memory_order_release);
}

void failNextAllocations(int count) {
    injectedFailures.store(count, std::memory_order_relaxed);
}

void resetFirstAllocationMessage() {
    auto& m = memoryMap();
    std::lock_guard lock(m.mutex);
    m.firstAllocation = true;
}

}  // namespace testing

}  // namespace oxl::netutils
