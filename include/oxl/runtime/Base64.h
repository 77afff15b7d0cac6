// Base64 encodings (RFC 4648): the standard alphabet and the URL-safe one. Output carries no padding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace oxl {

class Encoding {
  public:
    // Decoding table value for bytes outside the alphabet.
    static constexpr std::uint8_t INVALID = 0xFF;
    static constexpr std::size_t LINE_LENGTH = 72;
    static constexpr const char* LINE_SEPARATOR = "\r\n";

    virtual ~Encoding() = default;
    // The 64 characters, in value order.
    virtual const char* getAlphabet() const = 0;
    // Byte value -> 6-bit value; INVALID outside the alphabet; the padding character '=' maps to 0.
    virtual const std::array<std::uint8_t, 256>& getDecodingTable() const = 0;
    virtual const char* getOutputPadding() const = 0;
    virtual const char* getInputPadding() const = 0;
    virtual bool isUrlVariant() const = 0;

    // Encodes without padding; with lineBreaks, "\r\n" follows every 72 output characters.
    std::string encode(const void* data, std::size_t length, bool lineBreaks = false) const;
    std::string encode(std::string_view data, bool lineBreaks = false) const {
        return encode(data.data(), data.size(), lineBreaks);
    }
};

class Base64Encoding final : public Encoding {
  public:
    static const Base64Encoding& instance();

    const char* getAlphabet() const override;
    const std::array<std::uint8_t, 256>& getDecodingTable() const override;
    const char* getOutputPadding() const override { return "="; }
    const char* getInputPadding() const override { return "="; }
    bool isUrlVariant() const override { return false; }
};

class Base64urlEncoding final : public Encoding {
  public:
    static const Base64urlEncoding& instance();

    const char* getAlphabet() const override;
    const std::array<std::uint8_t, 256>& getDecodingTable() const override;
    const char* getOutputPadding() const override { return "%3D"; }
    const char* getInputPadding() const override { return "="; }
    bool isUrlVariant() const override { return true; }
};

}  // namespace oxl
