// Test seams of the libcurl memory callbacks.
#pragma once

#include <cstddef>

namespace oxl::netutils::testing {

// Called for every tracked block after it has been wiped and before it is released.
using ReleaseObserver = void (*)(const unsigned char* block, std::size_t size);
void setReleaseObserver(ReleaseObserver observer);

// The next `count` heap requests made by the callbacks fail as if the heap were exhausted.
void failNextAllocations(int count);

// Makes the "Initialised OK" message due again on the next allocation.
void resetFirstAllocationMessage();

}  // namespace oxl::netutils::testing
