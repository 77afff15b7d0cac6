#include "oxl/edge/Timestamp.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace oxl::edge {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t FILETIME_EPOCH_OFFSET_SEC = 11644473600LL;
constexpr std::int64_t MICROS_PER_SEC = 1000000;
}  // namespace

Timestamp::Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / MICROS_PER_SEC);
    std::tm local{};
    localtime_r(&seconds, &local);
    value_ =
        micros + (static_cast<std::int64_t>(local.tm_gmtoff) + FILETIME_EPOCH_OFFSET_SEC) * MICROS_PER_SEC;
}

std::ostream& operator<<(std::ostream& os, const Timestamp& timestamp) {
    if (timestamp.isNever()) {
        return os << "never";
    }
    const std::int64_t micros = timestamp.valueInMicroseconds();
    // The value already is local time; format it as if it were UTC to avoid a second offset.
    const std::time_t seconds = static_cast<std::time_t>(micros / MICROS_PER_SEC - FILETIME_EPOCH_OFFSET_SEC);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[48];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%06lld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(micros % MICROS_PER_SEC));
    return os << text;
}

}  // namespace oxl::edge
