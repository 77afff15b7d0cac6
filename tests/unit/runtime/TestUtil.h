// Helpers shared by the runtime tests: stderr capture, polling, and thread listing.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "support/WaitFor.h"

namespace oxl::test {

// Redirects file descriptor 2 into a temporary file for the lifetime of the object.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::fclose(file_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() const {
        std::fflush(stderr);
        std::string out;
        char buffer[4096];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(fileno(file_), buffer, sizeof buffer, offset)) > 0) {
            out.append(buffer, static_cast<size_t>(n));
            offset += n;
        }
        return out;
    }
    size_t count(const std::string& needle) const {
        const std::string all = text();
        size_t n = 0;
        for (size_t pos = all.find(needle); pos != std::string::npos; pos = all.find(needle, pos + 1)) {
            ++n;
        }
        return n;
    }

  private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

// Runs work on a detached thread. A test that finds it still running after its limit reports a hang
// instead of becoming one (whatever the blocked thread uses must then be left alive).
inline std::future<void> runDetached(std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> future = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return future;
}

// Number of threads of this process whose name is exactly `name` (as cut to 15 bytes).
size_t countThreadsNamed(const std::string& name);

std::string pointerText(const void* p);

}  // namespace oxl::test
