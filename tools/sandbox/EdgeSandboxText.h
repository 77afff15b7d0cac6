// Text helpers shared by the edge sandbox's sources.
#pragma once

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <strings.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace oxl::sandbox::text {

// Decodes Base64 in either alphabet ("+/" or "-_"), padding optional. False on any other byte.
inline bool decodeBase64(const std::string& in, std::string& out) {
    out.clear();
    unsigned int buffer = 0;
    int bits = 0;
    for (const char ch : in) {
        int v = -1;
        if (ch >= 'A' && ch <= 'Z') {
            v = ch - 'A';
        } else if (ch >= 'a' && ch <= 'z') {
            v = ch - 'a' + 26;
        } else if (ch >= '0' && ch <= '9') {
            v = ch - '0' + 52;
        } else if (ch == '+' || ch == '-') {
            v = 62;
        } else if (ch == '/' || ch == '_') {
            v = 63;
        } else if (ch == '=') {
            break;
        } else {
            return false;
        }
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return true;
}

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

inline std::string trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(' ');
    const std::size_t e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Name/value pairs of the request's Cookie headers.
inline std::vector<std::pair<std::string, std::string>> requestCookies(const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> cookies;
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        for (const auto& item : split(req.get_header_value("Cookie", i), ';')) {
            const std::string pair = trim(item);
            const std::size_t eq = pair.find('=');
            if (eq != std::string::npos) {
                cookies.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
            }
        }
    }
    return cookies;
}

inline std::string randomValue() {
    std::array<unsigned char, 24> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        return {};
    }
    static const char* HEX = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += HEX[b >> 4];
        out += HEX[b & 0xF];
    }
    return out;
}

inline bool iequals(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

inline bool constantTimeEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace oxl::sandbox::text
