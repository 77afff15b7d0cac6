// What the library itself asks of the libcurl memory callbacks.
#pragma once

#include <cstdint>

namespace oxl::netutils {

// Allocation requests the callbacks have served on the calling thread. Global initialisation uses it to
// check that libcurl really calls them.
std::uint64_t libCurlAllocationsOnThisThread();

}  // namespace oxl::netutils
