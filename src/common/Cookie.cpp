#include "oxl/common/Cookie.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

constexpr char SEPARATOR = '\t';

// Views into the caller's line: no copy of the value or the line is made, so none needs wiping.
using Fields = std::array<std::string_view, Cookie::FIELD_COUNT>;

// The number of TAB-separated fields in `raw`; the first FIELD_COUNT of them are put in `fields`.
std::size_t split(std::string_view raw, Fields& fields) {
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = raw.find(SEPARATOR, start);
        const std::string_view field =
            raw.substr(start, tab == std::string_view::npos ? raw.npos : tab - start);
        if (count < fields.size()) {
            fields[count] = field;
        }
        ++count;
        if (tab == std::string_view::npos) {
            return count;
        }
        start = tab + 1;
    }
}

bool toBool(std::string_view field) {
    if (field.size() != 4) {
        return false;
    }
    static constexpr char TRUE_TEXT[] = "true";
    for (std::size_t i = 0; i < 4; ++i) {
        char c = field[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != TRUE_TEXT[i]) {
            return false;
        }
    }
    return true;
}

long toLong(std::string_view field) {
    // As strtol: optional blanks and sign, digits up to the first non-digit, 0 when nothing is read.
    char digits[32] = {};
    if (field.size() >= sizeof digits) {
        return std::strtol(std::string(field).c_str(), nullptr, 10);
    }
    std::memcpy(digits, field.data(), field.size());
    return std::strtol(digits, nullptr, 10);
}

}  // namespace

Cookie::Cookie() = default;

Cookie::Cookie(const std::string& raw) {
    Fields fields;
    const std::size_t count = split(raw, fields);
    if (count != FIELD_COUNT) {
        OXL_LOG_WARN(logger(), "Unexpected number of tokens in cookie raw format : " << count);
        return;
    }
    domain_ = fields[0];
    tailMatch_ = toBool(fields[1]);
    path_ = fields[2];
    secure_ = toBool(fields[3]);
    expirationDate_ = toLong(fields[4]);
    name_ = fields[5];
    rawFormat_ = SecureString(raw);
}

std::string Cookie::getValue() const {
    const WipedString raw = rawFormat_.getWiped();
    // A stored line has exactly seven fields: the value is everything after the sixth TAB.
    std::size_t start = 0;
    for (int field = 0; field < FIELD_COUNT - 1; ++field) {
        const std::size_t tab = raw.view().find(SEPARATOR, start);
        if (tab == std::string_view::npos) {
            return {};
        }
        start = tab + 1;
    }
    return std::string(raw.view().substr(start));
}

bool Cookie::operator==(const Cookie& other) const {
    WipedString mine(getRawFormat());
    WipedString theirs(other.getRawFormat());
    return mine.str() == theirs.str();
}

}  // namespace oxl::common
