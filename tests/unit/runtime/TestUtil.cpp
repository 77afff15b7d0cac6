#include "TestUtil.h"

#include <filesystem>
#include <fstream>

namespace oxl::test {

size_t countThreadsNamed(const std::string& name) {
    const std::string wanted = name.substr(0, 15);
    size_t n = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream comm(entry.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == wanted) {
            ++n;
        }
    }
    return n;
}

std::string pointerText(const void* p) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%p", p);
    return buffer;
}

}  // namespace oxl::test
