#include "support/LogCapture.h"

namespace oxl::test {

class LogCapture::Sink : public oxl::log::LogSink {
  public:
    void write(const oxl::log::LogRecord& record) override {
        std::lock_guard lock(mutex);
        records.push_back(record);
    }
    mutable std::mutex mutex;
    std::vector<oxl::log::LogRecord> records;
};

LogCapture::LogCapture(int level)
    : sink_(std::make_shared<Sink>()),
      previous_(oxl::log::getSink()),
      previousLevel_(oxl::log::getDefaultLevel()) {
    oxl::log::setSink(sink_);
    oxl::log::clearLevels();
    oxl::log::setDefaultLevel(level);
}

LogCapture::~LogCapture() {
    oxl::log::setDefaultLevel(previousLevel_);
    oxl::log::setSink(previous_);
}

std::vector<oxl::log::LogRecord> LogCapture::records() const {
    std::lock_guard lock(sink_->mutex);
    return sink_->records;
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> out;
    for (const auto& r : records()) {
        out.push_back(r.message);
    }
    return out;
}

size_t LogCapture::count(const std::string& text, const std::string& logger) const {
    size_t n = 0;
    for (const auto& r : records()) {
        if (r.message.find(text) != std::string::npos && (logger.empty() || r.logger == logger)) {
            ++n;
        }
    }
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(sink_->mutex);
    sink_->records.clear();
}

}  // namespace oxl::test
