#include "oxl/runtime/Base64.h"

namespace oxl {

namespace {

constexpr const char STANDARD_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char URL_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<std::uint8_t, 256> makeDecodingTable(const char (&alphabet)[65]) {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = Encoding::INVALID;
    }
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i;
    }
    table[static_cast<unsigned char>('=')] = 0;
    return table;
}

constexpr std::array<std::uint8_t, 256> STANDARD_TABLE = makeDecodingTable(STANDARD_ALPHABET);
constexpr std::array<std::uint8_t, 256> URL_TABLE = makeDecodingTable(URL_ALPHABET);

// Constant-initialised, so they exist before any other code of the process runs.
constinit const Base64Encoding base64Instance;
constinit const Base64urlEncoding base64urlInstance;

}  // namespace

std::string Encoding::encode(const void* data, std::size_t length, bool lineBreaks) const {
    if (data == nullptr || length == 0) {
        return {};
    }
    const auto* in = static_cast<const unsigned char*>(data);
    const char* alphabet = getAlphabet();
    const std::size_t groups = length / 3;
    std::string out;
    std::size_t reserve = (length + 2) / 3 * 4;
    if (lineBreaks) {
        reserve += reserve / LINE_LENGTH * 2;
    }
    out.reserve(reserve);

    std::size_t written = 0;
    for (std::size_t g = 0; g < groups; ++g, in += 3) {
        out += alphabet[in[0] >> 2];
        out += alphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
        out += alphabet[((in[1] & 0x0F) << 2) | (in[2] >> 6)];
        out += alphabet[in[2] & 0x3F];
        written += 4;
        if (lineBreaks && written % LINE_LENGTH == 0) {
            out += LINE_SEPARATOR;
        }
    }
    switch (length % 3) {
        case 1:
            out += alphabet[in[0] >> 2];
            out += alphabet[(in[0] & 0x03) << 4];
            break;
        case 2:
            out += alphabet[in[0] >> 2];
            out += alphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
            out += alphabet[(in[1] & 0x0F) << 2];
            break;
        default:
            break;
    }
    return out;
}

const Base64Encoding& Base64Encoding::instance() {
    return base64Instance;
}

const char* Base64Encoding::getAlphabet() const {
    return STANDARD_ALPHABET;
}

const std::array<std::uint8_t, 256>& Base64Encoding::getDecodingTable() const {
    return STANDARD_TABLE;
}

const Base64urlEncoding& Base64urlEncoding::instance() {
    return base64urlInstance;
}

const char* Base64urlEncoding::getAlphabet() const {
    return URL_ALPHABET;
}

const std::array<std::uint8_t, 256>& Base64urlEncoding::getDecodingTable() const {
    return URL_TABLE;
}

}  // namespace oxl
