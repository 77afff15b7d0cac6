#include "oxl/common/Cookie.h"

#include <cstdlib>
#include <vector>

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

constexpr char SEPARATOR = '\t';

// Fields are wiped on destruction: the value and the whole line are secrets.
struct Fields {
    std::vector<std::string> items;
    ~Fields() {
        for (auto& item : items) {
            secureWipe(item);
        }
    }
};

void split(const std::string& raw, Fields& fields) {
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = raw.find(SEPARATOR, start);
        if (tab == std::string::npos) {
            fields.items.emplace_back(raw, start);
            return;
        }
        fields.items.emplace_back(raw, start, tab - start);
        start = tab + 1;
    }
}

bool toBool(const std::string& field) {
    if (field.size() != 4) {
        return false;
    }
    std::string lower = field;
    for (auto& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower == "true";
}

long toLong(const std::string& field) {
    // strtol stops at the first non-digit and yields 0 when nothing is read.
    return std::strtol(field.c_str(), nullptr, 10);
}

}  // namespace

Cookie::Cookie() = default;

Cookie::Cookie(const std::string& raw) {
    Fields fields;
    split(raw, fields);
    if (fields.items.size() != FIELD_COUNT) {
        OXL_LOG_WARN(logger(), "Unexpected number of tokens in cookie raw format : " << fields.items.size());
        return;
    }
    domain_ = fields.items[0];
    tailMatch_ = toBool(fields.items[1]);
    path_ = fields.items[2];
    secure_ = toBool(fields.items[3]);
    expirationDate_ = toLong(fields.items[4]);
    name_ = fields.items[5];
    value_ = SecureString(fields.items[6]);
    rawFormat_ = SecureString(raw);
}

bool Cookie::operator==(const Cookie& other) const {
    WipedString mine(getRawFormat());
    WipedString theirs(other.getRawFormat());
    return mine.str() == theirs.str();
}

}  // namespace oxl::common
