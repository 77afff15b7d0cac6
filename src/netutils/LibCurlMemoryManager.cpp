#include "oxl/netutils/LibCurlMemoryManager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "netutils/LibCurlMemoryManagerInternal.h"
#include "netutils/LibCurlMemoryManagerTesting.h"
#include "netutils/ThreadBlockTables.h"
#include "oxl/log/Log.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

// Never destroyed: libcurl may still free blocks from a host's static destructors at exit. Constant
// initialisation leaves no guard to check on every callback.
union NeverDestroyedTable {
    constexpr NeverDestroyedTable() : table() {}
    ~NeverDestroyedTable() {}
    ThreadBlockTables table;
};
constinit NeverDestroyedTable storage;

ThreadBlockTables& blockTable() {
    return storage.table;
}

std::atomic<bool> firstAllocation{true};
std::atomic<testing::ReleaseObserver> releaseObserver{nullptr};
// Initial-exec: counted on every allocation, and the general TLS model costs a __tls_get_addr call each time
// from a shared library.
__attribute__((tls_model("initial-exec"))) thread_local std::uint64_t allocationsOnThisThread = 0;
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
    // A plain load first: after the first call this is one read of a line nobody writes.
    if (firstAllocation.load(std::memory_order_relaxed) && firstAllocation.exchange(false)) {
        OXL_LOG_INFO(logger(), "LibCurl Memory Manager is Initialised OK!");
    }
}

void logRecordFailure(void* block, std::size_t previous) {
    if (previous != 0) {
        OXL_LOG_ERROR(logger(), "MemoryMap already has an entry at pointer:" << block);
    } else {
        OXL_LOG_ERROR(logger(), "MemoryMap could not record the block at pointer:" << block);
    }
}

void record(void* block, std::size_t size) {
    std::size_t previous = 0;
    if (!blockTable().insert(block, size, previous)) {
        logRecordFailure(block, previous);
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
    std::size_t size = 0;
    if (blockTable().erase(ptr, size)) {
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
    // A fresh block rather than realloc(): the old one must be wiped before the heap gets it back.
    void* block = injectFailure() ? nullptr : std::malloc(size);
    if (block == nullptr) {
        // The old block stays valid and recorded, as realloc() leaves it.
        OXL_LOG_ERROR(logger(), "malloc returned NULL for size:" << size);
        return nullptr;
    }
    std::size_t oldSize = 0;
    const bool known = blockTable().erase(ptr, oldSize);
    if (!known) {
        logUnknownPointer(ptr);
    }
    record(block, size);
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
    return blockTable().bytes();
}

std::size_t libCurlBlocksInUse() {
    return blockTable().blocks();
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
    firstAllocation.store(true);
}

std::size_t blockTableCapacityFor(const void* block) {
    return blockTable().capacityOfTableHolding(block);
}

}  // namespace testing

}  // namespace oxl::netutils
