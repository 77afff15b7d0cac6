// Private to the global edge state's sources: their logger and the process-wide refresh fire-time override.
#pragma once

#include <atomic>

#include "oxl/log/Log.h"

namespace oxl::edge {

inline OXLLogger stateLogger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

namespace detail {
// Seconds since 1970; 0: the expiry checks use each timer's own fire time.
std::atomic<long>& refreshFireTimeOverride();
}  // namespace detail

}  // namespace oxl::edge
