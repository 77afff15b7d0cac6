// The threads of this process (/proc/self/task), for tests that check which threads a component starts and
// that none is left behind.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <string>

namespace oxl::test {

// Thread id to name.
inline std::map<long, std::string> threadsOfThisProcess() {
    std::map<long, std::string> threads;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) {
        return threads;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        threads[std::stol(entry->d_name)] = name;
    }
    ::closedir(dir);
    return threads;
}

inline std::size_t countThreadsNamed(const std::string& name) {
    std::size_t n = 0;
    for (const auto& [id, threadName] : threadsOfThisProcess()) {
        n += threadName == name ? 1 : 0;
    }
    return n;
}

}  // namespace oxl::test
