// Test seams of the libcurl memory callbacks.
#pragma once

#include <cstddef>

#include "oxl/runtime/TestHook.h"

namespace oxl::netutils::testing {

// Called for every tracked block after it has been wiped and before it is released.
using ReleaseObserver = void (*)(const unsigned char* block, std::size_t size);
OXL_TEST_HOOK void setReleaseObserver(ReleaseObserver observer);

// The next `count` heap requests made by the callbacks fail as if the heap were exhausted.
OXL_TEST_HOOK void failNextAllocations(int count);

// Makes the "Initialised OK" message due again on the next allocation.
OXL_TEST_HOOK void resetFirstAllocationMessage();

// Slots of the table shard that records `block`.
OXL_TEST_HOOK std::size_t blockTableCapacityFor(const void* block);

}  // namespace oxl::netutils::testing
