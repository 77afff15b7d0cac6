#include <sstream>

#include "oxl/log/Log.h"
#include "oxl/version/BuildInfo.h"
#include "oxl/version/Version.h"

namespace oxl::version {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.version");
    return l;
}

constexpr const char* SEPARATOR_LINE = "*--------------------------------------*";

}  // namespace

std::string Version::printVersion(bool log) {
    std::ostringstream banner;
    banner << "\n"
           << SEPARATOR_LINE << "\n"
           << "|\t\tOXL NetUtils\n"
           << "|\tSVN Branch:\t\t" << OXL_SCM_BRANCH << "\n"
           << "|\tMajor Version:\t" << OXL_VERSION_MAJOR << "\n"
           << "|\tMinor Version:\t" << OXL_VERSION_MINOR << "\n"
           << "|\tBuild Version:\t" << OXL_VERSION_BUILD << "\n"
           << "|\tSVN Version:\t" << OXL_SCM_REVISION << "\n"
           << "|\tBuild Time:\t\t" << OXL_BUILD_TIME << "\n"
           << SEPARATOR_LINE;
    std::string text = banner.str();
    if (log) {
        OXL_LOG_INFO(logger(), text);
    }
    return text;
}

}  // namespace oxl::version
