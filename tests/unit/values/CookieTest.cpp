#include <gtest/gtest.h>

#include "oxl/common/Cookie.h"
#include "oxl/common/EmailAddressParser.h"
#include "support/LogCapture.h"

using oxl::common::Cookie;
using oxl::common::EmailAddressParser;

namespace {

std::string line(std::initializer_list<const char*> fields) {
    std::string text;
    bool first = true;
    for (const char* f : fields) {
        text += (first ? "" : "\t");
        text += f;
        first = false;
    }
    return text;
}

}  // namespace

TEST(CookieTest, ParsesTheSevenFields) {
    oxl::test::LogCapture logs;
    const std::string raw = line({".corp.test", "TRUE", "/", "FALSE", "0", "X-Auth", "v"});
    const Cookie cookie(raw);
    EXPECT_FALSE(cookie.isEmpty());
    EXPECT_EQ(cookie.getDomain(), ".corp.test");
    EXPECT_TRUE(cookie.isTailMatchAllowed());
    EXPECT_EQ(cookie.getPath(), "/");
    EXPECT_FALSE(cookie.isSecureConnectionRequired());
    EXPECT_EQ(cookie.getExpirationDate(), 0);
    EXPECT_EQ(cookie.getName(), "X-Auth");
    EXPECT_EQ(cookie.getValue(), "v");
    EXPECT_EQ(cookie.getRawFormat(), raw);
    EXPECT_TRUE(logs.records().empty());
}

TEST(CookieTest, FieldValuesAreReadLiterally) {
    struct Case {
        std::string raw;
        bool tailMatch;
        bool secure;
        long expiry;
        std::string name;
        std::string value;
    };
    const Case cases[] = {
        // flag words in any case; anything else is false
        {line({"h", "true", "/", "True", "1", "n", "v"}), true, true, 1, "n", "v"},
        {line({"h", "false", "/", "FALSE", "1", "n", "v"}), false, false, 1, "n", "v"},
        {line({"h", "1", "/", "yes", "1", "n", "v"}), false, false, 1, "n", "v"},
        {line({"h", "truex", "/", " TRUE", "1", "n", "v"}), false, false, 1, "n", "v"},
        {line({"h", "", "/", "tRuE", "1", "n", "v"}), false, true, 1, "n", "v"},
        // expiry: a leading number is read, anything else gives 0
        {line({"h", "TRUE", "/", "TRUE", "abc", "n", "v"}), true, true, 0, "n", "v"},
        {line({"h", "TRUE", "/", "TRUE", "", "n", "v"}), true, true, 0, "n", "v"},
        {line({"h", "TRUE", "/", "TRUE", "1700000000abc", "n", "v"}), true, true, 1700000000, "n", "v"},
        {line({"h", "TRUE", "/", "TRUE", "-5", "n", "v"}), true, true, -5, "n", "v"},
        {line({"h", "TRUE", "/", "TRUE", "2147483647", "n", "v"}), true, true, 2147483647L, "n", "v"},
        // name and value keep spaces, '=' and ';'; an empty value is allowed
        {line({"h", "TRUE", "/", "TRUE", "0", "a b", "x=1; y=2 "}), true, true, 0, "a b", "x=1; y=2 "},
        {line({"h", "TRUE", "/", "TRUE", "0", "n", ""}), true, true, 0, "n", ""},
        {line({"", "", "", "", "", "", ""}), false, false, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const Cookie cookie(c.raw);
        EXPECT_FALSE(cookie.isEmpty());
        EXPECT_EQ(cookie.isTailMatchAllowed(), c.tailMatch);
        EXPECT_EQ(cookie.isSecureConnectionRequired(), c.secure);
        EXPECT_EQ(cookie.getExpirationDate(), c.expiry);
        EXPECT_EQ(cookie.getName(), c.name);
        EXPECT_EQ(cookie.getValue(), c.value);
        EXPECT_EQ(cookie.getRawFormat(), c.raw);
    }
}

TEST(CookieTest, WrongFieldCountGivesEmptyCookieAndOneLogLine) {
    struct Case {
        std::string raw;
        const char* count;
    };
    const Case cases[] = {
        {"", "1"},
        {"no tabs at all", "1"},
        {line({"h", "TRUE", "/", "FALSE", "0", "n"}), "6"},
        {line({"h", "TRUE", "/", "FALSE", "0", "n", "v", "extra"}), "8"},
        {line({"h", "TRUE", "/", "FALSE", "0", "n", "v"}) + "\t", "8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        oxl::test::LogCapture logs;
        const Cookie cookie(c.raw);
        EXPECT_TRUE(cookie.isEmpty());
        EXPECT_EQ(cookie.getRawFormat(), "");
        EXPECT_EQ(cookie.getName(), "");
        EXPECT_EQ(cookie.getValue(), "");
        EXPECT_EQ(cookie.getDomain(), "");
        EXPECT_EQ(cookie.getExpirationDate(), 0);
        EXPECT_FALSE(cookie.isTailMatchAllowed());
        ASSERT_EQ(logs.records().size(), 1u);
        EXPECT_EQ(logs.count(std::string("Unexpected number of tokens in cookie raw format : ") + c.count,
                             "oxl.http"),
                  1u);
    }
}

TEST(CookieTest, EqualityComparesWholeLines) {
    oxl::test::LogCapture logs;
    const std::string raw = line({".corp.test", "TRUE", "/", "FALSE", "0", "X-Auth", "v"});
    const Cookie a(raw);
    const Cookie b(raw);
    const Cookie copy = a;
    const Cookie otherValue(line({".corp.test", "TRUE", "/", "FALSE", "0", "X-Auth", "w"}));
    const Cookie otherExpiry(line({".corp.test", "TRUE", "/", "FALSE", "00", "X-Auth", "v"}));
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == copy);
    EXPECT_FALSE(a == otherValue);
    EXPECT_TRUE(a != otherValue);
    // Same parsed fields, different text: still different cookies.
    EXPECT_EQ(otherExpiry.getExpirationDate(), a.getExpirationDate());
    EXPECT_FALSE(a == otherExpiry);
    EXPECT_TRUE(Cookie() == Cookie());
    EXPECT_TRUE(Cookie() == Cookie("bad"));
    EXPECT_FALSE(Cookie() == a);
}

TEST(EmailAddressParserTest, SplitsAtTheLastAtSign) {
    struct Case {
        std::string email;
        std::string username;
        std::string domain;
        const char* log;  // expected log line, or null for none
    };
    const Case cases[] = {
        {"user@corp.test", "user", "corp.test", nullptr},
        {"a@b@corp.test", "a@b", "corp.test", nullptr},
        {"@corp.test", "", "corp.test", nullptr},
        {"user@", "user", "", nullptr},
        {"@", "", "", nullptr},
        {"nobody", "nobody", "", "Malformed Email Address."},
        {"", "", "", "Email Address is blank."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.email);
        oxl::test::LogCapture logs;
        const EmailAddressParser parser(c.email);
        EXPECT_EQ(parser.getUsername(), c.username);
        EXPECT_EQ(parser.getDomain(), c.domain);
        if (c.log == nullptr) {
            EXPECT_TRUE(logs.records().empty());
        } else {
            ASSERT_EQ(logs.records().size(), 1u);
            EXPECT_EQ(logs.count(c.log, "oxl.common"), 1u);
        }
    }
}
