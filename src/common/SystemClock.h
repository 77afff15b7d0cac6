// Wall-clock seconds since 1970: the default clock of the components that take one, so that tests can give
// them their own.
#pragma once

#include <cstdint>
#include <ctime>

namespace oxl::common {

inline std::int64_t systemSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace oxl::common
