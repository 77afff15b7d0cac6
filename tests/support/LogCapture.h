// Captures the library's log records for the lifetime of the object and restores the previous sink after.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oxl/log/Log.h"

namespace oxl::test {

class LogCapture {
  public:
    // Every logger is raised to `level` while captured.
    explicit LogCapture(int level = OXL_LEVEL_TRACE);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<oxl::log::LogRecord> records() const;
    std::vector<std::string> messages() const;
    // Number of records whose message contains `text` (optionally only from `logger`).
    size_t count(const std::string& text, const std::string& logger = {}) const;
    bool contains(const std::string& text, const std::string& logger = {}) const {
        return count(text, logger) > 0;
    }
    void clear();

  private:
    class Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<oxl::log::LogSink> previous_;
    int previousLevel_;
};

}  // namespace oxl::test
