#include <iostream>

#include "oxl/version/Version.h"
#include "oxlnet/Command.h"

namespace oxlnet {

namespace {

int runVersion(const Args& args) {
    if (!args.empty()) {
        return usageError("version takes no arguments");
    }
    std::cout << oxl::version::Version::printVersion(false) << std::endl;
    return 0;
}

}  // namespace

OXLNET_COMMAND("version", "", "prints the library's version banner", runVersion);

}  // namespace oxlnet
