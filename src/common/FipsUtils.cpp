#include "oxl/common/FipsUtils.h"

#include <openssl/evp.h>

#include <atomic>

namespace oxl::common {

namespace {
constexpr int NO_OVERRIDE = -1;
std::atomic<int> fipsOverride{NO_OVERRIDE};
}  // namespace

bool FipsUtils::isFipsEnabled() {
    const int forced = fipsOverride.load(std::memory_order_acquire);
    if (forced != NO_OVERRIDE) {
        return forced != 0;
    }
    // OpenSSL 3 replaces FIPS_mode() with the default properties of the library context.
    return EVP_default_properties_is_fips_enabled(nullptr) != 0;
}

void FipsUtils::setFipsEnabledOverride(std::optional<bool> enabled) {
    fipsOverride.store(enabled ? (*enabled ? 1 : 0) : NO_OVERRIDE, std::memory_order_release);
}

}  // namespace oxl::common
