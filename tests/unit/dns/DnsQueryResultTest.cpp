#include "oxl/dns/DnsQueryResult.h"

#include <gtest/gtest.h>

#include <sstream>

#include "oxl/dns/DnsQueryType.h"

using namespace oxl::dns;

namespace {

template <typename T>
std::string text(const T& value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

TEST(DnsQueryResult, PrintsNamesAndUnexpectedValues) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "SUCCESS"},
        {1, "NO_RECORDS"},
        {2, "SERVER_FAILURE"},
        {3, "SERVER_REFUSED"},
        {4, "TIMEOUT"},
        {5, "DOMAIN_DOES_NOT_EXIST"},
        {6, "BAD_QUERY"},
        {7, "NO_NETWORK"},
        {8, "CANCELLED"},
        {9, "BAD_RESPONSE"},
        {10, "INTERNAL_ERROR"},
        {11, "Unexpected value (11)"},
        {-1, "Unexpected value (-1)"},
    };
    for (const auto& [value, name] : cases) {
        EXPECT_EQ(name, text(static_cast<DnsQueryResult::Result>(value)));
    }
    EXPECT_EQ("SRV", text(DnsQueryType::SRV));
    EXPECT_EQ("AAAA", text(DnsQueryType::AAAA));
    EXPECT_EQ("Unexpected value (2)", text(static_cast<DnsQueryType::Type>(2)));
}

}  // namespace
