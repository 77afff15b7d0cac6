// Base64 and Base64url encoding of arbitrary bytes, with and without line breaks: checked against OpenSSL's
// encoder and decoded again through the encodings' own decoding tables.
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "oxl/runtime/Base64.h"

namespace {

std::string decode(const oxl::Encoding& encoding, const std::string& text) {
    const auto& table = encoding.getDecodingTable();
    std::string out;
    unsigned bits = 0;
    unsigned buffer = 0;
    for (const char c : text) {
        const auto value = table[static_cast<unsigned char>(c)];
        OXL_FUZZ_CHECK(value != oxl::Encoding::INVALID, std::string("character outside the alphabet: ") + c);
        buffer = (buffer << 6) | value;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

std::string withoutLineBreaks(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool breakHere = text.compare(i, 2, oxl::Encoding::LINE_SEPARATOR) == 0;
        if (breakHere) {
            // Only after every full 72 characters of output.
            OXL_FUZZ_CHECK(out.size() % oxl::Encoding::LINE_LENGTH == 0 && !out.empty(),
                           "line break after " + std::to_string(out.size()) + " characters");
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

void check(const oxl::Encoding& encoding, const std::string& input, bool lineBreaks) {
    const std::string encoded = encoding.encode(input, lineBreaks);
    const std::string plain = lineBreaks ? withoutLineBreaks(encoded) : encoded;
    OXL_FUZZ_CHECK(plain.size() == (input.size() * 4 + 2) / 3,
                   "output length " + std::to_string(plain.size()));
    if (lineBreaks) {
        // Breaks follow complete groups only, so the last full line of a length that ends in a partial group
        // has its break too.
        const std::size_t fullGroups = input.size() / 3;
        OXL_FUZZ_CHECK(encoded.size() - plain.size() == fullGroups * 4 / oxl::Encoding::LINE_LENGTH * 2,
                       "line break count");
    }
    OXL_FUZZ_CHECK(decode(encoding, plain) == input, "decoding does not give the input back");

    std::vector<unsigned char> reference(4 * ((input.size() + 2) / 3) + 1);
    const int n = EVP_EncodeBlock(reference.data(), reinterpret_cast<const unsigned char*>(input.data()),
                                  static_cast<int>(input.size()));
    std::string expected(reinterpret_cast<const char*>(reference.data()), static_cast<std::size_t>(n));
    while (!expected.empty() && expected.back() == '=') {
        expected.pop_back();
    }
    if (encoding.isUrlVariant()) {
        for (auto& c : expected) {
            c = c == '+' ? '-' : c == '/' ? '_' : c;
        }
    }
    OXL_FUZZ_CHECK(plain == expected, "differs from OpenSSL: " + plain + " vs " + expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (const bool lineBreaks : {false, true}) {
        check(oxl::Base64Encoding::instance(), input, lineBreaks);
        check(oxl::Base64urlEncoding::instance(), input, lineBreaks);
    }
    return 0;
}
