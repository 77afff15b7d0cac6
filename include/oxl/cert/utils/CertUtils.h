// Hex text conversion and loading of certificates from DER or PEM bytes.
#pragma once

#include <openssl/types.h>

#include <string>

#include "oxl/cert/utils/CertEnumerations.h"

namespace oxl::cert {

class CertUtils {
  public:
    // Two upper-case hexadecimal digits per byte, no separator.
    static std::string bytesToString(const unsigned char* data, unsigned long length);
    // Reads the text two characters at a time as one hexadecimal byte and stores at most outLength bytes;
    // returns the number stored. Parsing stops at the first pair that is not two hexadecimal digits, so a
    // trailing half byte is ignored.
    static unsigned long stringToBytes(const std::string& text, char* out, unsigned long outLength);
    // The caller owns the result (X509_free); null on failure.
    static X509* loadCertificate(const unsigned char* data, int length, CertEncoding::Format format);
};

}  // namespace oxl::cert
