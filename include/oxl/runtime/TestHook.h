// OXL_TEST_HOOK marks a function that exists only for the library's own tests (resetting singletons,
// injecting seams, reading internals). It is compiled into the library like any other function but is
// not exported from the shared library: code built against the installed library cannot link to it,
// while the test programs, linked against a static build of the same objects, can.
//
//     OXL_TEST_HOOK static void resetForTesting();
//     OXL_TEST_HOOK void setCustomHttpClientForTesting(std::shared_ptr<BasicHttpClient> client);
//     OXL_TEST_HOOK void setOverride(int value);   // a free function in a header
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define OXL_TEST_HOOK __attribute__((visibility("hidden")))
#else
#define OXL_TEST_HOOK
#endif
