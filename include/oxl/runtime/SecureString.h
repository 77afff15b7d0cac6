// A text kept enciphered in memory (passwords, tokens, cookie values).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "oxl/runtime/TestHook.h"

namespace oxl {

struct SecureStringData;

// Overwrites every byte of the string's buffer (including spare capacity) and empties it.
void secureWipe(std::string& text) noexcept;

// Owns a clear-text copy and wipes it when it goes out of scope.
class WipedString {
  public:
    WipedString() = default;
    explicit WipedString(std::string text) noexcept : text_(std::move(text)) {}
    ~WipedString() { secureWipe(text_); }
    WipedString(WipedString&& other) noexcept : text_(std::move(other.text_)) { secureWipe(other.text_); }
    WipedString& operator=(WipedString&& other) noexcept;
    WipedString(const WipedString&) = delete;
    WipedString& operator=(const WipedString&) = delete;

    const std::string& str() const noexcept { return text_; }
    std::string_view view() const noexcept { return text_; }
    const char* c_str() const noexcept { return text_.c_str(); }
    std::size_t size() const noexcept { return text_.size(); }
    bool empty() const noexcept { return text_.empty(); }

  private:
    std::string text_;
};

// A copyable handle: copies share the same enciphered data, which never changes after construction.
// Failures of the random generator or the cipher leave the string empty rather than holding clear text.
class SecureString {
  public:
    SecureString();
    SecureString(const std::string& text);  // NOLINT(google-explicit-constructor): used like a string
    SecureString(const char* text);         // NOLINT(google-explicit-constructor)
    SecureString(const char* data, std::size_t length);

    // A fresh clear-text copy; the caller should wipe it (secureWipe) or use getWiped().
    std::string getString() const;
    // The clear text in a holder that wipes itself.
    WipedString getWiped() const { return WipedString(getString()); }
    bool empty() const noexcept;
    // Compares the clear texts; both temporary copies are wiped.
    bool equals(const SecureString& other) const;
    // True when both handles refer to the same enciphered data.
    bool sharesDataWith(const SecureString& other) const noexcept { return data_ == other.data_; }

    // A copy of the stored cipher text (empty when nothing is stored).
    OXL_TEST_HOOK std::vector<unsigned char> cipherTextForTesting() const;

  private:
    void store(const char* data, std::size_t length);
    std::shared_ptr<const SecureStringData> data_;
};

}  // namespace oxl
