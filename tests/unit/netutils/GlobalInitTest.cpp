#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "netutils/GlobalInitTesting.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/LibCurlMemoryManager.h"
#include "support/LogCapture.h"
#include "support/WaitFor.h"

namespace nu = oxl::netutils;
namespace nt = oxl::netutils::testing;

namespace {

constexpr const char* PREVIOUSLY_CALLED = "netutils GlobalInit previously called.  Ignore this call.";
constexpr const char* CURL_INIT = "libcurl global initialization (curl_global_init_mem)";
constexpr const char* OPENSSL_SETUP = "openssl thread setup -setting locking and threadid callbacks";
constexpr const char* INSTALLING =
    "Call CRYPTO_set_locking_callback(openssl_locking_callback), as no callback has been previously set.";
constexpr const char* ALREADY_SET =
    "CRYPTO_set_locking_callback has already been called.  No need to call it again.";
constexpr const char* BANNER_TITLE = "OXL NetUtils";

// What the stand-ins for OpenSSL and libcurl saw.
struct Recorder {
    std::mutex mutex;
    nt::LockingCallback installed = nullptr;
    std::vector<nt::LockingCallback> setCalls;
    std::atomic<int> curlInits{0};
    std::atomic<int> curlInitFailuresLeft{0};
    bool callbacksInLibcurlOrder = true;
    long flags = 0;
};
Recorder* recorder = nullptr;

nt::LockingCallback fakeGet() {
    std::lock_guard lock(recorder->mutex);
    return recorder->installed;
}

void fakeSet(nt::LockingCallback cb) {
    std::lock_guard lock(recorder->mutex);
    recorder->installed = cb;
    recorder->setCalls.push_back(cb);
}

void hostCallback(int, int, const char*, int) {}

CURLcode countingCurlInit(long flags, curl_malloc_callback m, curl_free_callback f, curl_realloc_callback r,
                          curl_strdup_callback s, curl_calloc_callback c) {
    {
        std::lock_guard lock(recorder->mutex);
        recorder->flags = flags;
        recorder->callbacksInLibcurlOrder =
            recorder->callbacksInLibcurlOrder && m == &nu::libcurl_malloc_callback &&
            f == &nu::libcurl_free_callback && r == &nu::libcurl_realloc_callback &&
            s == &nu::libcurl_strdup_callback && c == &nu::libcurl_calloc_callback;
    }
    if (recorder->curlInitFailuresLeft.fetch_sub(1) > 0) {
        return CURLE_FAILED_INIT;
    }
    ++recorder->curlInits;
    return curl_global_init_mem(flags, m, f, r, s, c);
}

size_t indexOf(const std::vector<std::string>& messages, const std::string& text) {
    for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return messages.size();
}

using oxl::test::waitFor;

class GlobalInitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder = &rec_;
        nt::setOpenSslLockingApi({&fakeGet, &fakeSet});
        nt::setCurlGlobalInitMem(&countingCurlInit);
        nt::resetInitialisationState();
    }
    void TearDown() override {
        // Every successful libcurl initialisation is balanced, whatever the test did.
        for (int i = cleanups_; i < rec_.curlInits.load(); ++i) {
            curl_global_cleanup();
        }
        nt::setOpenSslLockingApi({});
        nt::setCurlGlobalInitMem(nullptr);
        nt::resetInitialisationState();
        recorder = nullptr;
    }
    void cleanup() {
        nu::GlobalCleanup();
        ++cleanups_;
    }
    Recorder rec_;
    int cleanups_ = 0;
};

}  // namespace

TEST_F(GlobalInitTest, FirstCallDoesEverythingInOrderAndTheSecondNothing) {
    oxl::test::LogCapture logs;
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_EQ(rec_.flags, CURL_GLOBAL_ALL);
    EXPECT_TRUE(rec_.callbacksInLibcurlOrder);
    ASSERT_EQ(rec_.setCalls.size(), 1u);
    EXPECT_EQ(rec_.setCalls[0], &nu::openssl_locking_callback);

    const auto messages = logs.messages();
    const size_t banner = indexOf(messages, BANNER_TITLE);
    const size_t curl = indexOf(messages, CURL_INIT);
    const size_t setup = indexOf(messages, OPENSSL_SETUP);
    const size_t installing = indexOf(messages, INSTALLING);
    ASSERT_LT(installing, messages.size());
    EXPECT_LT(banner, curl);
    EXPECT_LT(curl, setup);
    EXPECT_LT(setup, installing);
    EXPECT_EQ(logs.count(BANNER_TITLE, "oxl.netutils.version"), 1u);
    EXPECT_EQ(logs.count(PREVIOUSLY_CALLED), 0u);

    logs.clear();
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_EQ(rec_.setCalls.size(), 1u);
    EXPECT_EQ(logs.count(PREVIOUSLY_CALLED, "oxl.netutils"), 1u);
    EXPECT_EQ(logs.records().size(), 1u);

    logs.clear();
    cleanup();
    const auto cleanupMessages = logs.messages();
    EXPECT_LT(indexOf(cleanupMessages, "libcurl global cleanup (curl_global_cleanup)"),
              indexOf(cleanupMessages, "openssl thread cleanup"));
    EXPECT_LT(indexOf(cleanupMessages, "openssl thread cleanup"), cleanupMessages.size());
    ASSERT_EQ(rec_.setCalls.size(), 2u);
    EXPECT_EQ(rec_.setCalls[1], nullptr);

    // The flags survive the clean-up: a further GlobalInit is ignored.
    logs.clear();
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_EQ(logs.count(PREVIOUSLY_CALLED), 1u);
}

TEST_F(GlobalInitTest, LibCurlOnlyThenFullInitSetsUpOpenSslOnce) {
    oxl::test::LogCapture logs;
    EXPECT_EQ(nu::GlobalInitLibCurlOnly(), 0);
    EXPECT_EQ(nu::GlobalInitLibCurlOnly(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_TRUE(rec_.setCalls.empty());
    EXPECT_EQ(logs.count(BANNER_TITLE), 0u);
    EXPECT_EQ(logs.count(OPENSSL_SETUP), 0u);

    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_EQ(logs.count(CURL_INIT), 1u);
    EXPECT_EQ(rec_.setCalls.size(), 1u);
    EXPECT_EQ(logs.count(INSTALLING), 1u);
    EXPECT_EQ(logs.count(BANNER_TITLE), 1u);
    EXPECT_EQ(logs.count(PREVIOUSLY_CALLED), 1u);
    cleanup();
}

TEST_F(GlobalInitTest, LeavesAnInstalledLockingCallbackInPlace) {
    rec_.installed = &hostCallback;
    oxl::test::LogCapture logs;
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_TRUE(rec_.setCalls.empty());
    EXPECT_EQ(rec_.installed, &hostCallback);
    EXPECT_EQ(logs.count(ALREADY_SET, "oxl.netutils"), 1u);
    EXPECT_EQ(logs.count(INSTALLING), 0u);
    cleanup();
}

TEST_F(GlobalInitTest, LibCurlFailureLeavesOpenSslAloneAndIsRetried) {
    rec_.curlInitFailuresLeft = 1;
    oxl::test::LogCapture logs;
    EXPECT_EQ(nu::GlobalInit(), -1);
    EXPECT_EQ(logs.count(std::string("curl_global_init_mem() failed, last error: ") +
                         curl_easy_strerror(CURLE_FAILED_INIT)),
              1u);
    EXPECT_EQ(logs.count(OPENSSL_SETUP), 0u);
    EXPECT_TRUE(rec_.setCalls.empty());
    EXPECT_EQ(logs.count(BANNER_TITLE), 1u);

    rec_.curlInitFailuresLeft = 1;
    EXPECT_EQ(nu::GlobalInitLibCurlOnly(), -1);

    // Nothing was marked done, so the next call really initialises; the banner is not repeated.
    EXPECT_EQ(nu::GlobalInit(), 0);
    EXPECT_EQ(rec_.curlInits.load(), 1);
    EXPECT_EQ(rec_.setCalls.size(), 1u);
    EXPECT_EQ(logs.count(PREVIOUSLY_CALLED), 0u);
    // Later callers of the print-once routine (the object factory) stay silent too.
    nu::printVersionBannerOnce();
    EXPECT_EQ(logs.count(BANNER_TITLE), 1u);
    cleanup();
}

TEST_F(GlobalInitTest, ConcurrentCallersSetUpOpenSslOnce) {
    oxl::test::LogCapture logs;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&failures] {
            if (nu::GlobalInit() != 0) {
                ++failures;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(rec_.setCalls.size(), 1u);
    EXPECT_EQ(logs.count(INSTALLING), 1u);
    EXPECT_EQ(logs.count(BANNER_TITLE), 1u);
    EXPECT_GE(rec_.curlInits.load(), 1);
    cleanup();
}

TEST(GlobalInitDeathTest, LibcurlInitialisedElsewhereFirstIsAnErrorUntilItIsReleased) {
    // A fresh process: libcurl's own initialisation state cannot be undone inside this one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Someone else initialises libcurl first, with the heap's functions: ours would be ignored.
            curl_global_init(CURL_GLOBAL_ALL);
            oxl::test::LogCapture logs;
            const int first = nu::GlobalInit();
            const int again = nu::GlobalInit();
            const size_t errors = logs.count("memory callbacks", "oxl.netutils");
            // Once the other user has released libcurl, initialisation with the callbacks succeeds.
            curl_global_cleanup();
            const size_t blocksBefore = nu::libCurlBlocksInUse();
            const int released = nu::GlobalInit();
            curl_slist* list = curl_slist_append(nullptr, "tracked");
            const size_t blocksDuring = nu::libCurlBlocksInUse();
            curl_slist_free_all(list);
            std::fprintf(stderr, "first=%d again=%d errors=%zu released=%d tracked=%d\n", first, again,
                         errors, released, blocksDuring > blocksBefore ? 1 : 0);
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "first=-1 again=-1 errors=2 released=0 tracked=1");
}

TEST(OpenSslLockingCallbackTest, OneMutexPerLockNumberMadeLazilyAndDestroyedAtCleanup) {
    // Fresh lock numbers on every run, so that repeated runs also see first uses.
    static int nextLock = 40000;
    const int LOCK_A = nextLock += 2;
    const int LOCK_B = LOCK_A + 1;
    const size_t tableBefore = nt::lockTableSize();

    nu::openssl_locking_callback(CRYPTO_LOCK | CRYPTO_WRITE, LOCK_A, __FILE__, __LINE__);
    EXPECT_EQ(nt::lockTableSize(), tableBefore + 1);

    std::atomic<bool> otherGotB{false};
    std::thread independent([&] {
        nu::openssl_locking_callback(CRYPTO_LOCK | CRYPTO_WRITE, LOCK_B, __FILE__, __LINE__);
        otherGotB = true;
        nu::openssl_locking_callback(CRYPTO_UNLOCK | CRYPTO_WRITE, LOCK_B, __FILE__, __LINE__);
    });
    EXPECT_TRUE(waitFor([&] { return otherGotB.load(); }));
    independent.join();

    std::atomic<bool> otherGotA{false};
    std::atomic<bool> releaseA{false};
    std::thread contender([&] {
        nu::openssl_locking_callback(CRYPTO_LOCK | CRYPTO_READ, LOCK_A, __FILE__, __LINE__);
        otherGotA = true;
        while (!releaseA) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        nu::openssl_locking_callback(CRYPTO_UNLOCK | CRYPTO_READ, LOCK_A, __FILE__, __LINE__);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherGotA.load()) << "lock " << LOCK_A << " was not exclusive";
    nu::openssl_locking_callback(CRYPTO_UNLOCK | CRYPTO_WRITE, LOCK_A, __FILE__, __LINE__);
    EXPECT_TRUE(waitFor([&] { return otherGotA.load(); }));
    releaseA = true;
    contender.join();

    // One mutex per lock number, made on first use only.
    EXPECT_EQ(nt::lockTableSize(), tableBefore + 2);

    // Clean-up destroys the mutexes but keeps the lock numbers; a later use makes a fresh mutex.
    ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);  // balances the libcurl half of the clean-up
    nu::GlobalCleanup();
    EXPECT_EQ(nt::lockTableSize(), tableBefore + 2);
    EXPECT_EQ(nt::lockTableLiveMutexes(), 0u);
    nu::openssl_locking_callback(CRYPTO_LOCK, LOCK_A, __FILE__, __LINE__);
    nu::openssl_locking_callback(CRYPTO_UNLOCK, LOCK_A, __FILE__, __LINE__);
    EXPECT_EQ(nt::lockTableSize(), tableBefore + 2);
    EXPECT_EQ(nt::lockTableLiveMutexes(), 1u);
}
