// Test seams of the global initialisation.
#pragma once

#include <curl/curl.h>

#include <cstddef>

#include "oxl/runtime/TestHook.h"

namespace oxl::netutils {

// The OpenSSL locking callback the library installs (mode, lock number, file, line).
OXL_TEST_HOOK void openssl_locking_callback(int mode, int n, const char* file, int line);

namespace testing {

using LockingCallback = void (*)(int mode, int n, const char* file, int line);

// Stand-ins for CRYPTO_get_locking_callback / CRYPTO_set_locking_callback; a null member restores OpenSSL's.
struct OpenSslLockingApi {
    LockingCallback (*getLockingCallback)() = nullptr;
    void (*setLockingCallback)(LockingCallback) = nullptr;
};
OXL_TEST_HOOK void setOpenSslLockingApi(OpenSslLockingApi api);

// Stand-in for curl_global_init_mem; null restores it.
using CurlGlobalInitMem = CURLcode (*)(long flags, curl_malloc_callback m, curl_free_callback f,
                                       curl_realloc_callback r, curl_strdup_callback s,
                                       curl_calloc_callback c);
OXL_TEST_HOOK void setCurlGlobalInitMem(CurlGlobalInitMem fn);

// Clears both initialisation flags and makes the version banner due again.
OXL_TEST_HOOK void resetInitialisationState();

// Lock numbers seen by the locking callback, and how many of them currently own a mutex.
OXL_TEST_HOOK std::size_t lockTableSize();
OXL_TEST_HOOK std::size_t lockTableLiveMutexes();

}  // namespace testing
}  // namespace oxl::netutils
