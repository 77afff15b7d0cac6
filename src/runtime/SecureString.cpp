#include "oxl/runtime/SecureString.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace oxl {

namespace {

constexpr std::size_t KEY_SIZE = 32;
constexpr std::size_t IV_SIZE = 16;
constexpr std::size_t BLOCK_SIZE = 16;

// The key is never stored whole: each byte is derived from one pair of these constants. The arrays are
// read through volatile so that the compiler cannot fold the finished key into the binary.
volatile const unsigned char KEY_PART_A[KEY_SIZE] = {
    0x3c, 0x91, 0x5e, 0xd2, 0x07, 0xa8, 0x6f, 0x14, 0xbb, 0x42, 0xe9, 0x70, 0x1d, 0xc6, 0x83, 0x2a,
    0xf5, 0x58, 0x0e, 0x9b, 0x61, 0xd7, 0x34, 0xac, 0x4f, 0x12, 0x87, 0xe0, 0x79, 0x2d, 0xb6, 0x53};
volatile const unsigned char KEY_PART_B[KEY_SIZE] = {
    0xa7, 0x1b, 0xc4, 0x68, 0xf3, 0x2e, 0x95, 0x0c, 0x5a, 0xdf, 0x36, 0x81, 0xe4, 0x49, 0x7c, 0x10,
    0x2f, 0xb8, 0x63, 0xd6, 0x0a, 0x9e, 0x45, 0xf1, 0x87, 0x3b, 0xc0, 0x5d, 0x16, 0xea, 0x74, 0x99};

unsigned char deriveKeyByte(unsigned char a, unsigned char b) {
    const unsigned rotated = ((b << 3) | (b >> 5)) & 0xFFu;
    return static_cast<unsigned char>(((a ^ rotated) * 167u + 0x5Bu) & 0xFFu);
}

// Heap bytes that are wiped before they are released.
class WipedBuffer {
  public:
    explicit WipedBuffer(std::size_t size = 0) : bytes_(size) {}
    ~WipedBuffer() { wipe(); }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    void wipe() {
        if (!bytes_.empty()) {
            OPENSSL_cleanse(bytes_.data(), bytes_.size());
        }
    }

  private:
    std::vector<unsigned char> bytes_;
};

class Key {
  public:
    Key() {
        for (std::size_t i = 0; i < KEY_SIZE; ++i) {
            bytes_[i] = deriveKeyByte(KEY_PART_A[i], KEY_PART_B[i]);
        }
    }
    ~Key() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    const unsigned char* data() const { return bytes_.data(); }

  private:
    std::array<unsigned char, KEY_SIZE> bytes_{};
};

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// Fetched once: an implicit fetch per operation costs a provider lookup. Deliberately never freed, since
// strings may still be read from static destructors after OpenSSL's own clean-up.
const EVP_CIPHER* cipher() {
    static const EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    return fetched;
}

// One block-cipher context per thread, keyed once. Texts are enciphered in counter mode on top of it, so an
// operation is a single cipher call on the counter blocks rather than a re-initialisation with a new IV
// (which costs more than enciphering a short text). The key schedule stays in the context, as the key
// itself is a constant of the program.
EVP_CIPHER_CTX* keyedContext() {
    thread_local CipherCtx slot;
    if (!slot) {
        CipherCtx ctx(EVP_CIPHER_CTX_new());
        const Key key;
        if (!ctx || cipher() == nullptr ||
            EVP_EncryptInit_ex2(ctx.get(), cipher(), key.data(), nullptr, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
            return nullptr;
        }
        slot = std::move(ctx);
    }
    return slot.get();
}

// out = in XOR the keystream of `iv` (the encryption of iv, iv + 1, ... as 128-bit big-endian counters).
// The same operation enciphers and deciphers. `out` may be `in`.
bool applyKeystream(const unsigned char* iv, const unsigned char* in, unsigned char* out,
                    std::size_t length) {
    EVP_CIPHER_CTX* ctx = keyedContext();
    if (ctx == nullptr) {
        return false;
    }
    constexpr std::size_t CHUNK_BLOCKS = 16;
    std::array<unsigned char, CHUNK_BLOCKS * BLOCK_SIZE> counters;
    std::array<unsigned char, CHUNK_BLOCKS * BLOCK_SIZE> stream;
    std::array<unsigned char, BLOCK_SIZE> counter;
    std::memcpy(counter.data(), iv, BLOCK_SIZE);
    bool ok = true;
    for (std::size_t done = 0; done < length && ok;) {
        const std::size_t chunk = std::min(length - done, stream.size());
        const std::size_t blocks = (chunk + BLOCK_SIZE - 1) / BLOCK_SIZE;
        for (std::size_t b = 0; b < blocks; ++b) {
            std::memcpy(counters.data() + b * BLOCK_SIZE, counter.data(), BLOCK_SIZE);
            for (std::size_t i = BLOCK_SIZE; i-- > 0 && ++counter[i] == 0;) {
            }
        }
        int written = 0;
        ok = EVP_EncryptUpdate(ctx, stream.data(), &written, counters.data(),
                               static_cast<int>(blocks * BLOCK_SIZE)) == 1 &&
             written == static_cast<int>(blocks * BLOCK_SIZE);
        if (!ok) {
            break;
        }
        for (std::size_t i = 0; i < chunk; ++i) {
            out[done + i] = static_cast<unsigned char>(in[done + i] ^ stream[i]);
        }
        done += chunk;
    }
    // The counters follow from the IV, which is stored in the clear anyway; the keystream is secret.
    OPENSSL_cleanse(stream.data(),
                    std::min((length + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE, stream.size()));
    return ok;
}

// Changes in every fork child, so that a pool filled before the fork is never drawn from again.
std::atomic<unsigned> forkGeneration{0};

// Random bytes for IVs, drawn from the generator in batches: one RAND_bytes call per 32 IVs instead of one
// per string. Bytes handed out are wiped from the pool; a fork child refills before its first draw, so
// parent and child never hand out the same IV.
class IvPool {
  public:
    IvPool() {
        static const bool registered = [] {
            pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); });
            return true;
        }();
        (void)registered;
    }
    ~IvPool() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
    IvPool(const IvPool&) = delete;
    IvPool& operator=(const IvPool&) = delete;

    bool draw(unsigned char* iv) {
        const unsigned generation = forkGeneration.load(std::memory_order_relaxed);
        if (next_ >= bytes_.size() || generation != generation_) {
            OPENSSL_cleanse(bytes_.data(), bytes_.size());
            if (RAND_bytes(bytes_.data(), static_cast<int>(bytes_.size())) != 1) {
                next_ = bytes_.size();
                return false;
            }
            next_ = 0;
            generation_ = generation;
        }
        std::memcpy(iv, bytes_.data() + next_, IV_SIZE);
        OPENSSL_cleanse(bytes_.data() + next_, IV_SIZE);
        next_ += IV_SIZE;
        return true;
    }

  private:
    std::array<unsigned char, 32 * IV_SIZE> bytes_{};
    std::size_t next_ = bytes_.size();
    unsigned generation_ = 0;
};

bool drawIv(unsigned char* iv) {
    thread_local IvPool pool;
    return pool.draw(iv);
}

}  // namespace

struct SecureStringData {
    explicit SecureStringData(std::size_t cipherRoom) : cipherText(cipherRoom) {}
    ~SecureStringData() { OPENSSL_cleanse(iv.data(), iv.size()); }
    SecureStringData(const SecureStringData&) = delete;
    SecureStringData& operator=(const SecureStringData&) = delete;

    bool empty = true;
    std::array<unsigned char, IV_SIZE> iv{};
    WipedBuffer cipherText;
};

void secureWipe(std::string& text) noexcept {
    // resize within capacity does not reallocate and zero-fills the spare bytes.
    text.resize(text.capacity());
    if (!text.empty()) {
        OPENSSL_cleanse(text.data(), text.size());
    }
    text.clear();
}

WipedString& WipedString::operator=(WipedString&& other) noexcept {
    if (this != &other) {
        secureWipe(text_);
        text_ = std::move(other.text_);
        secureWipe(other.text_);
    }
    return *this;
}

SecureString::SecureString() = default;

SecureString::SecureString(const std::string& text) {
    store(text.data(), text.size());
}

SecureString::SecureString(const char* text) {
    if (text != nullptr) {
        store(text, std::strlen(text));
    }
}

SecureString::SecureString(const char* data, std::size_t length) {
    if (data != nullptr) {
        store(data, length);
    }
}

void SecureString::store(const char* text, std::size_t length) {
    if (length == 0 || length > static_cast<std::size_t>(INT_MAX)) {
        return;
    }
    auto data = std::make_shared<SecureStringData>(length);
    if (!drawIv(data->iv.data()) ||
        !applyKeystream(data->iv.data(), reinterpret_cast<const unsigned char*>(text),
                        data->cipherText.data(), length)) {
        return;
    }
    data->empty = false;
    data_ = std::move(data);
}

std::string SecureString::getString() const {
    if (!data_ || data_->empty || data_->cipherText.empty()) {
        return {};
    }
    const std::size_t length = data_->cipherText.size();
    // Deciphered in place in the string handed out, so no other clear copy exists.
    std::string clear(length, '\0');
    if (!applyKeystream(data_->iv.data(), data_->cipherText.data(),
                        reinterpret_cast<unsigned char*>(clear.data()), length)) {
        secureWipe(clear);
        return {};
    }
    return clear;
}

bool SecureString::empty() const noexcept {
    return !data_ || data_->empty;
}

bool SecureString::equals(const SecureString& other) const {
    if (sharesDataWith(other)) {
        return true;
    }
    const WipedString mine = getWiped();
    const WipedString theirs = other.getWiped();
    return mine.str() == theirs.str();
}

std::vector<unsigned char> SecureString::cipherTextForTesting() const {
    if (!data_ || data_->empty) {
        return {};
    }
    return std::vector<unsigned char>(data_->cipherText.data(),
                                      data_->cipherText.data() + data_->cipherText.size());
}

}  // namespace oxl
