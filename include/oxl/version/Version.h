// The library's version banner.
#pragma once

#include <string>

namespace oxl::version {

class Version {
  public:
    // The banner (lines separated by "\n", starting with an empty line); with log, also written at info level
    // to the "oxl.netutils.version" logger.
    static std::string printVersion(bool log);
};

}  // namespace oxl::version
