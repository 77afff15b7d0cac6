// Cookie-list lines as libcurl and edge answers hand them over: seven TAB-separated fields or an empty
// cookie.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "oxl/common/Cookie.h"

namespace {

std::vector<std::string> splitAtTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (true) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const oxl::common::Cookie cookie(line);
    const auto fields = splitAtTabs(line);
    if (fields.size() != oxl::common::Cookie::FIELD_COUNT) {
        OXL_FUZZ_CHECK(cookie.isEmpty() && cookie.getName().empty() && cookie.getValue().empty() &&
                           cookie.getDomain().empty() && cookie.getExpirationDate() == 0,
                       "a line of " + std::to_string(fields.size()) + " fields gave a cookie");
        return 0;
    }
    OXL_FUZZ_CHECK(!cookie.isEmpty(), "seven fields gave an empty cookie");
    OXL_FUZZ_CHECK(cookie.getRawFormat() == line, "the raw line did not survive");
    OXL_FUZZ_CHECK(cookie.getDomain() == fields[0] && cookie.getPath() == fields[2] &&
                       cookie.getName() == fields[5] && cookie.getValue() == fields[6],
                   "a field went to the wrong place");
    OXL_FUZZ_CHECK(cookie == oxl::common::Cookie(line), "a cookie differs from one made from the same line");
    OXL_FUZZ_CHECK(!(cookie == oxl::common::Cookie(line + "x")), "cookies of different lines are equal");
    return 0;
}
