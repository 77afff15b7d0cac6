// Turns the acceptable TLS set of a request into TLS context settings. The option values and texts keep
// the classic SSL_OP_NO_* bit layout for logs; apply() maps them onto minimum and maximum protocol versions.
#pragma once

#include <openssl/types.h>

#include <string>

namespace oxl::http {

class OpenSSLOptions {
  public:
    OpenSSLOptions() = delete;

    static constexpr long NO_SSLv2 = 0x01000000L;
    static constexpr long NO_SSLv3 = 0x02000000L;
    static constexpr long NO_TLSv1 = 0x04000000L;
    static constexpr long NO_TLSv1_2 = 0x08000000L;
    static constexpr long NO_TLSv1_1 = 0x10000000L;

    // SSLv2 and SSLv3 off: 0x03000000.
    static long getDefaultOptions() { return NO_SSLv2 | NO_SSLv3; }
    // NO_TLSv1 / NO_TLSv1_1 / NO_TLSv1_2 for each version bit (1, 2, 4) that is clear.
    static long translateTlsVersions(long acceptableTlsProtocols);
    // translateTlsVersions combined with the defaults; logged at debug when a TLS version is switched off.
    static long getOptions(long acceptableTlsProtocols);
    // "OpenSSL Options:" followed by " SSL_OP_NO_SSLv2" ... for each bit set.
    static std::string toString(long options);

    // The protocol range the options leave, as OpenSSL understands a set of disabled versions: from the
    // lowest enabled version up to the first disabled one. With no classic version disabled there is no
    // upper bound (0, TLS 1.3 included); a set that disables some ends at its highest classic version, so
    // "TLS 1.2 only" is exactly TLS 1.2. With TLS 1.0 to 1.2 all disabled only TLS 1.3 remains.
    struct VersionRange {
        int minVersion = 0;
        int maxVersion = 0;
    };
    static VersionRange toVersionRange(long options);
    // Narrows the context's protocol range to the options; never widens what the context already allows.
    // False when OpenSSL refuses the range.
    static bool apply(SSL_CTX* ctx, long options);
};

}  // namespace oxl::http
