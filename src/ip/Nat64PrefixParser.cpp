#include "oxl/ip/Nat64PrefixParser.h"

#include <algorithm>
#include <array>

#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}

enum class Slot { Contiguous, AroundZeroOctet, Invalid };

// Where RFC 6052 may place the IPv4 bytes: at 4, 9 and 12 they are contiguous; at 5, 6 and 7 they run
// around the zero octet at byte 8; anywhere else they cannot validly be.
Slot slotAt(size_t i) {
    switch (i) {
        case 4:
        case 9:
        case 12:
            return Slot::Contiguous;
        case 5:
        case 6:
        case 7:
            return Slot::AroundZeroOctet;
        default:
            return Slot::Invalid;
    }
}

bool matchesAt(const std::vector<uint8_t>& bytes, size_t i, const std::vector<uint8_t>& pattern) {
    return i + pattern.size() <= bytes.size() &&
           std::equal(pattern.begin(), pattern.end(), bytes.begin() + i);
}

// The position of the one valid occurrence of the well-known address whose last byte is `last`, 0 when
// there is none or the address is ambiguous.
size_t searchForValidWKA(const std::vector<uint8_t>& bytes, uint8_t last) {
    const std::vector<uint8_t> contiguous = {192, 0, 0, last};
    // For both well-known addresses, inserting the zero octet anywhere gives the same five bytes.
    const std::vector<uint8_t> aroundZero = {192, 0, 0, 0, last};
    size_t found = 0;
    for (size_t n = 13; n-- > 0;) {
        const Slot slot = slotAt(n);
        if (slot == Slot::Invalid) {
            if (matchesAt(bytes, n, contiguous)) {
                OXL_LOG_DEBUG(logger(), "found an instance of the WKA at an invalid index: "
                                            << n << ", treating as an invalid WKA");
                return 0;
            }
            continue;
        }
        if (!matchesAt(bytes, n, slot == Slot::Contiguous ? contiguous : aroundZero)) {
            continue;
        }
        if (found != 0) {
            OXL_LOG_DEBUG(logger(), "found a second instance of the WKA at index: "
                                        << n << ", treating as an invalid WKA");
            return 0;
        }
        OXL_LOG_DEBUG(logger(), "WKA found at index: " << n);
        found = n;
    }
    return found;
}

}  // namespace

Nat64PrefixParser::Nat64PrefixParser(const Ipv6Address& address) : bytes_(address.getBytes()) {
    if (bytes_.size() != 16) {
        OXL_LOG_ERROR(logger(), "Unexpected input of " << bytes_.size() << " bytes");
        return;
    }
    OXL_LOG_DEBUG(logger(), "searching for WKA1");
    position_ = searchForValidWKA(bytes_, 170);
    if (position_ == 0) {
        OXL_LOG_DEBUG(logger(), "searching for WKA2");
        position_ = searchForValidWKA(bytes_, 171);
    }
}

std::vector<uint8_t> Nat64PrefixParser::getPrefix() const {
    if (position_ == 0) {
        return {};
    }
    return std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
}

}  // namespace oxl::ip
