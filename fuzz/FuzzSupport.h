// Shared by the fuzz programs: every log level on with a sink that drops the records (so that the messages
// the parsers build from hostile input are built too), a check that aborts with a message when a property
// of the code under test does not hold, and input splitting.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace oxl::fuzz {

[[noreturn]] void fail(const char* condition, const char* file, int line, const std::string& detail);

// From now on a log record whose text contains `secret` ends the run as a finding (empty: no check).
void forbidInLogs(const std::string& secret);

// Text fields of at most `maxLength` bytes; a field ends at "\" followed by any byte other than "\" (so that
// seeds read "field\nfield"), "\\" stands for one backslash.
inline std::string takeField(FuzzedDataProvider& input, std::size_t maxLength = 4096) {
    return input.ConsumeRandomLengthString(maxLength);
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

inline bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace oxl::fuzz

#define OXL_FUZZ_CHECK(condition, detail)                                \
    do {                                                                 \
        if (!(condition)) {                                              \
            ::oxl::fuzz::fail(#condition, __FILE__, __LINE__, (detail)); \
        }                                                                \
    } while (0)
