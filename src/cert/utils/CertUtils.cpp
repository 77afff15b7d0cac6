#include "oxl/cert/utils/CertUtils.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.utils");
    return l;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

}  // namespace

std::string CertUtils::bytesToString(const unsigned char* data, unsigned long length) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    if (data == nullptr) {
        return text;
    }
    text.reserve(length * 2);
    for (unsigned long i = 0; i < length; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

unsigned long CertUtils::stringToBytes(const std::string& text, char* out, unsigned long outLength) {
    if (out == nullptr) {
        return 0;
    }
    unsigned long stored = 0;
    for (size_t i = 0; i + 1 < text.size() && stored < outLength; i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        out[stored++] = static_cast<char>((high << 4) | low);
    }
    return stored;
}

X509* CertUtils::loadCertificate(const unsigned char* data, int length, CertEncoding::Format format) {
    if (format == CertEncoding::DER) {
        OXL_LOG_INFO(logger(), "Received a DER format Certificate ");
        if (data == nullptr || length <= 0) {
            return nullptr;
        }
        const unsigned char* cursor = data;
        return d2i_X509(nullptr, &cursor, length);
    }
    if (format == CertEncoding::PEM) {
        OXL_LOG_INFO(logger(), "Received a PEM format Certificate ");
        if (data == nullptr || length <= 0) {
            return nullptr;
        }
        std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(data, length));
        if (!bio) {
            OXL_LOG_ERROR(logger(), "Could not create BIO to convert PEM Certificate into X509 ");
            return nullptr;
        }
        return PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    }
    OXL_LOG_ERROR(logger(), "Invalid Certificate Format ");
    return nullptr;
}

}  // namespace oxl::cert
