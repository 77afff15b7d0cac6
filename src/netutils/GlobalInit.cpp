#include "oxl/netutils/GlobalInit.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "netutils/GlobalInitTesting.h"
#include "netutils/LibCurlMemoryManagerInternal.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/LibCurlMemoryManager.h"
#include "oxl/netutils/NetworkEventReporterImpl.h"
#include "oxl/version/Version.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

using testing::LockingCallback;

// OpenSSL >= 1.1 locks internally: on OpenSSL 3 these macros do nothing and report no callback, so the
// callback below is never called by OpenSSL itself. The step keeps its contract for hosts and for tests.
LockingCallback opensslGetLockingCallback() {
    return CRYPTO_get_locking_callback();
}

void opensslSetLockingCallback(LockingCallback callback) {
    (void)callback;
    CRYPTO_set_locking_callback(callback);
}

struct InitState {
    std::atomic<bool> libcurlInitialised{false};
    std::atomic<bool> opensslThreadSetup{false};
    std::atomic<bool> bannerPending{true};
    std::mutex setupMutex;

    std::mutex lockTableMutex;
    std::map<int, std::unique_ptr<std::mutex>> lockTable;

    std::atomic<LockingCallback (*)()> getLockingCallback{&opensslGetLockingCallback};
    std::atomic<void (*)(LockingCallback)> setLockingCallback{&opensslSetLockingCallback};
    std::atomic<testing::CurlGlobalInitMem> curlGlobalInitMem{&curl_global_init_mem};
};

// Never destroyed: a host may call GlobalCleanup from its own static destructors.
InitState& state() {
    alignas(InitState) static unsigned char storage[sizeof(InitState)];
    static InitState* s = ::new (storage) InitState();
    return *s;
}

// libcurl keeps the memory functions of whoever initialised it first and only counts later
// initialisations, so success alone does not say that our callbacks are in place: one allocation made
// through libcurl must reach them.
bool libcurlUsesOurCallbacks() {
    const std::uint64_t before = libCurlAllocationsOnThisThread();
    curl_slist* probe = curl_slist_append(nullptr, "oxl");
    const bool seen = libCurlAllocationsOnThisThread() != before;
    curl_slist_free_all(probe);
    return seen;
}

int initLibCurl() {
    auto& s = state();
    if (s.libcurlInitialised.load(std::memory_order_acquire)) {
        return 0;
    }
    OXL_LOG_DEBUG(logger(), "libcurl global initialization (curl_global_init_mem)");
    const CURLcode rc = s.curlGlobalInitMem.load()(CURL_GLOBAL_ALL, &libcurl_malloc_callback,
                                                   &libcurl_free_callback, &libcurl_realloc_callback,
                                                   &libcurl_strdup_callback, &libcurl_calloc_callback);
    if (rc != CURLE_OK) {
        OXL_LOG_DEBUG(logger(), "curl_global_init_mem() failed, last error: " << curl_easy_strerror(rc));
        return -1;
    }
    if (!libcurlUsesOurCallbacks()) {
        OXL_LOG_ERROR(
            logger(),
            "libcurl was already initialised without the library's memory callbacks, so its buffers "
            "would not be wiped; release it (curl_global_cleanup) before GlobalInit");
        // Only our own count is given back; the earlier initialisation stays with its owner.
        curl_global_cleanup();
        return -1;
    }
    s.libcurlInitialised.store(true, std::memory_order_release);
    return 0;
}

void setupOpenSslThreads() {
    auto& s = state();
    if (s.opensslThreadSetup.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard lock(s.setupMutex);
    if (s.opensslThreadSetup.load(std::memory_order_relaxed)) {
        return;
    }
    s.opensslThreadSetup.store(true, std::memory_order_release);
    if (s.getLockingCallback.load()() != nullptr) {
        OXL_LOG_DEBUG(logger(),
                      "CRYPTO_set_locking_callback has already been called.  No need to call it again.");
        return;
    }
    OXL_LOG_DEBUG(
        logger(),
        "Call CRYPTO_set_locking_callback(openssl_locking_callback), as no callback has been previously "
        "set.");
    s.setLockingCallback.load()(&openssl_locking_callback);
}

void cleanupOpenSslThreads() {
    auto& s = state();
    s.setLockingCallback.load()(nullptr);
    std::lock_guard lock(s.lockTableMutex);
    for (auto& entry : s.lockTable) {
        entry.second.reset();
    }
}

}  // namespace

void openssl_locking_callback(int mode, int n, const char* /*file*/, int /*line*/) {
    auto& s = state();
    std::mutex* mutex = nullptr;
    {
        std::lock_guard lock(s.lockTableMutex);
        auto& slot = s.lockTable[n];
        if (!slot) {
            slot = std::make_unique<std::mutex>();
        }
        mutex = slot.get();
    }
    // The per-lock mutex is taken outside the table lock so that one held lock never blocks the others.
    if ((mode & CRYPTO_LOCK) != 0) {
        mutex->lock();
    } else {
        mutex->unlock();
    }
}

void printVersionBannerOnce() {
    const bool pending = state().bannerPending.exchange(false);
    oxl::version::Version::printVersion(pending);
}

int GlobalInit() {
    auto& s = state();
    if (s.libcurlInitialised.load(std::memory_order_acquire) &&
        s.opensslThreadSetup.load(std::memory_order_acquire)) {
        OXL_LOG_DEBUG(logger(), "netutils GlobalInit previously called.  Ignore this call.");
        return 0;
    }
    printVersionBannerOnce();
    if (initLibCurl() != 0) {
        return -1;
    }
    OXL_LOG_DEBUG(logger(), "openssl thread setup -setting locking and threadid callbacks");
    setupOpenSslThreads();
    return 0;
}

int GlobalInitLibCurlOnly() {
    return initLibCurl();
}

void GlobalCleanup() {
    // No event may reach the edge subsystems once the host has torn them down.
    NetworkEventReporterImpl::stop();
    OXL_LOG_DEBUG(logger(), "libcurl global cleanup (curl_global_cleanup)");
    curl_global_cleanup();
    OXL_LOG_DEBUG(logger(), "openssl thread cleanup");
    cleanupOpenSslThreads();
}

namespace testing {

void setOpenSslLockingApi(OpenSslLockingApi api) {
    auto& s = state();
    s.getLockingCallback.store(api.getLockingCallback != nullptr ? api.getLockingCallback
                                                                 : &opensslGetLockingCallback);
    s.setLockingCallback.store(api.setLockingCallback != nullptr ? api.setLockingCallback
                                                                 : &opensslSetLockingCallback);
}

void setCurlGlobalInitMem(CurlGlobalInitMem fn) {
    state().curlGlobalInitMem.store(fn != nullptr ? fn : &curl_global_init_mem);
}

void resetInitialisationState() {
    auto& s = state();
    std::lock_guard lock(s.setupMutex);
    s.libcurlInitialised.store(false);
    s.opensslThreadSetup.store(false);
    s.bannerPending.store(true);
}

std::size_t lockTableSize() {
    auto& s = state();
    std::lock_guard lock(s.lockTableMutex);
    return s.lockTable.size();
}

std::size_t lockTableLiveMutexes() {
    auto& s = state();
    std::lock_guard lock(s.lockTableMutex);
    std::size_t live = 0;
    for (const auto& entry : s.lockTable) {
        live += entry.second ? 1 : 0;
    }
    return live;
}

}  // namespace testing

}  // namespace oxl::netutils
