// Local wall-clock time in microseconds (since 1601-01-01, the file-time epoch), used by the state machines
// to measure quiet periods and retry windows. 0 means "never".
#pragma once

#include <cstdint>
#include <ostream>

namespace oxl::edge {

class Timestamp {
  public:
    // Now, in local time.
    Timestamp();
    explicit Timestamp(std::int64_t microseconds) : value_(microseconds) {}

    static Timestamp never() { return Timestamp(0); }

    std::int64_t valueInMicroseconds() const { return value_; }
    bool isNever() const { return value_ == 0; }

    bool operator==(const Timestamp&) const = default;

  private:
    std::int64_t value_;
};

// "never", or "YYYY-MM-DD HH:MM:SS.uuuuuu".
std::ostream& operator<<(std::ostream& os, const Timestamp& timestamp);

}  // namespace oxl::edge
