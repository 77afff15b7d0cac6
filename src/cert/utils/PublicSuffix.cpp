#include "cert/utils/PublicSuffix.h"

#include <libpsl.h>

#include <memory>

#include "common/TextUtils.h"

namespace oxl::cert::psl {

namespace {

struct PslFree {
    void operator()(psl_ctx_t* ctx) const { psl_free(ctx); }
};

// Loaded once and never changed afterwards, so every thread may read it.
const psl_ctx_t* context() {
    static const std::unique_ptr<psl_ctx_t, PslFree> latest(psl_latest(nullptr));
    return latest ? latest.get() : psl_builtin();
}

}  // namespace

bool isPublicSuffix(const std::string& domain) {
    const psl_ctx_t* ctx = context();
    if (ctx == nullptr || domain.empty()) {
        // Without a list nothing can be shown to be safe.
        return true;
    }
    const std::string lower = oxl::common::text::toLower(domain);
    return psl_is_public_suffix2(ctx, lower.c_str(), PSL_TYPE_ICANN) != 0;
}

}  // namespace oxl::cert::psl
