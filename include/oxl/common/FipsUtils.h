// Whether OpenSSL runs in FIPS mode.
#pragma once

#include <optional>

#include "oxl/runtime/TestHook.h"

namespace oxl::common {

class FipsUtils {
  public:
    // True when the default OpenSSL library context fetches FIPS-approved algorithms only.
    static bool isFipsEnabled();

    // Test seam: a set value is returned by isFipsEnabled instead of asking OpenSSL; nullopt restores it.
    OXL_TEST_HOOK static void setFipsEnabledOverride(std::optional<bool> enabled);
};

}  // namespace oxl::common
