#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

// Small ASCII text helpers shared by the library's own sources (not installed).
namespace oxl::common::text {

inline std::string toLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

inline std::string toUpper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Strips any of `blanks` from both ends; all blanks gives an empty string.
inline std::string trim(std::string_view text, std::string_view blanks = " \t\r\n") {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

// The part of `text` without blanks (space, TAB, CR, LF) at either end, as a view into it: no copy, for
// text handled once per header line.
constexpr std::string_view trimmedView(std::string_view text) {
    constexpr auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace oxl::common::text
