// Printing of result enumerations: the upper-case enumerator name, or "Unexpected value (N)".
#pragma once

#include <initializer_list>
#include <ostream>
#include <utility>

namespace oxl::detail {

inline std::ostream& printEnum(std::ostream& os, int value,
                               std::initializer_list<std::pair<int, const char*>> names) {
    for (const auto& [v, name] : names) {
        if (v == value) {
            return os << name;
        }
    }
    return os << "Unexpected value (" << value << ")";
}

}  // namespace oxl::detail
