#include "oxl/http/IdentityMatchModel.h"

#include <sstream>
#include <string>

#include "oxl/runtime/EnumPrint.h"

namespace oxl::http {

const char* IdentityMatchModel::toString(int model) {
    switch (model) {
        case SOFT_MATCH:
            return "SOFT_MATCH";
        case STRICT_MATCH:
            return "STRICT_MATCH";
        default:
            break;
    }
    // One buffer per thread keeps the returned pointer valid until the next unknown value on that thread.
    thread_local std::string text;
    text = "Unexpected value (" + std::to_string(model) + ")";
    return text.c_str();
}

std::ostream& operator<<(std::ostream& os, IdentityMatchModel::Model model) {
    return oxl::detail::printEnum(
        os, model,
        {{IdentityMatchModel::SOFT_MATCH, "SOFT_MATCH"}, {IdentityMatchModel::STRICT_MATCH, "STRICT_MATCH"}});
}

}  // namespace oxl::http
