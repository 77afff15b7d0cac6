#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "oxl/runtime/Base64.h"

using oxl::Base64Encoding;
using oxl::Base64urlEncoding;
using oxl::Encoding;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

// Independent reference: OpenSSL's padded encoder, padding stripped, alphabet switched for the URL variant.
std::string reference(const std::string& data, bool url) {
    std::vector<unsigned char> out(4 * ((data.size() + 2) / 3) + 1);
    const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()));
    std::string text(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    if (url) {
        for (auto& c : text) {
            c = c == '+' ? '-' : (c == '/' ? '_' : c);
        }
    }
    return text;
}

std::string withoutSeparators(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

TEST(Base64Test, VariantCharactersWithoutPadding) {
    struct Case {
        const Encoding& encoding;
        std::string input;
        std::string expected;
    };
    const Encoding& std64 = Base64Encoding::instance();
    const Encoding& url64 = Base64urlEncoding::instance();
    // Lengths and the common alphabet are covered against OpenSSL below; these pin the variant characters.
    const Case cases[] = {
        {url64, bytes({0xFB}), "-w"},
        {std64, bytes({0xFB, 0xFF}), "+/8"},
        {url64, bytes({0xFB, 0xFF}), "-_8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(c.encoding.encode(c.input), c.expected);
        EXPECT_EQ(c.encoding.encode(c.input.data(), c.input.size(), false), c.expected);
    }
    EXPECT_EQ(std64.encode(nullptr, 5, false), "");
    EXPECT_EQ(std64.encode("abc", 0, true), "");
}

TEST(Base64Test, MatchesOpenSslOnRandomData) {
    std::mt19937 rng(4648);
    for (size_t length = 0; length < 300; ++length) {
        std::string data(length, '\0');
        for (auto& c : data) {
            c = static_cast<char>(rng() & 0xFF);
        }
        SCOPED_TRACE(length);
        ASSERT_EQ(Base64Encoding::instance().encode(data), reference(data, false));
        ASSERT_EQ(Base64urlEncoding::instance().encode(data), reference(data, true));
    }
}

TEST(Base64Test, LineBreaksAfterEvery72Characters) {
    struct Case {
        size_t inputBytes;
        size_t separators;
        bool endsWithSeparator;
    };
    const Case cases[] = {
        {53, 0, false},   // 71 characters
        {54, 1, true},    // exactly 72: the separator follows the last full group
        {55, 1, false},   // 72 + 2
        {107, 1, false},  // 72 + 71
        {108, 2, true},   // 144
        {1000, 18, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inputBytes);
        std::string data(c.inputBytes, '\0');
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<char>(i * 7 + 3);
        }
        const Encoding* encodings[] = {&Base64Encoding::instance(), &Base64urlEncoding::instance()};
        for (const Encoding* enc : encodings) {
            const std::string plain = enc->encode(data, false);
            const std::string broken = enc->encode(data, true);
            EXPECT_EQ(plain.find('\r'), std::string::npos);
            EXPECT_EQ(withoutSeparators(broken), plain);
            EXPECT_EQ(broken.size(), plain.size() + 2 * c.separators);
            // every separator sits right after a 72-character line
            size_t lineStart = 0;
            size_t found = 0;
            for (size_t pos = broken.find("\r\n"); pos != std::string::npos;
                 pos = broken.find("\r\n", pos + 2)) {
                EXPECT_EQ(pos - lineStart, 72u);
                lineStart = pos + 2;
                ++found;
            }
            EXPECT_EQ(found, c.separators);
            EXPECT_EQ(broken.size() >= 2 && broken.compare(broken.size() - 2, 2, "\r\n") == 0,
                      c.endsWithSeparator);
        }
    }
}

TEST(Base64Test, DecodingTablesInvertTheAlphabets) {
    const Encoding& std64 = Base64Encoding::instance();
    const Encoding& url64 = Base64urlEncoding::instance();

    for (const Encoding* enc : {&std64, &url64}) {
        const std::string alphabet = enc->getAlphabet();
        ASSERT_EQ(alphabet.size(), 64u);
        EXPECT_EQ(std::set<char>(alphabet.begin(), alphabet.end()).size(), 64u);
        const auto& table = enc->getDecodingTable();
        for (size_t i = 0; i < alphabet.size(); ++i) {
            EXPECT_EQ(table[static_cast<unsigned char>(alphabet[i])], i) << alphabet[i];
        }
        EXPECT_EQ(table['='], 0);
        size_t invalid = 0;
        for (auto v : table) {
            invalid += v == Encoding::INVALID ? 1 : 0;
        }
        EXPECT_EQ(invalid, 256u - 65u);
    }
    EXPECT_EQ(std64.getDecodingTable()['-'], Encoding::INVALID);
    EXPECT_EQ(url64.getDecodingTable()['+'], Encoding::INVALID);
    EXPECT_EQ(url64.getDecodingTable()['_'], 63);
}
