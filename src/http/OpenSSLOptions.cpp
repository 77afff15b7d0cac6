#include "oxl/http/OpenSSLOptions.h"

#include <openssl/ssl.h>

#include <array>

#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// Classic versions in ascending order with the bit that switches each off; TLS 1.3 has no bit.
struct VersionBit {
    int version;
    long disabledBy;
};
constexpr std::array<VersionBit, 4> VERSIONS = {{{TLS1_VERSION, OpenSSLOptions::NO_TLSv1},
                                                 {TLS1_1_VERSION, OpenSSLOptions::NO_TLSv1_1},
                                                 {TLS1_2_VERSION, OpenSSLOptions::NO_TLSv1_2},
                                                 {TLS1_3_VERSION, 0}}};
}  // namespace

long OpenSSLOptions::translateTlsVersions(long acceptableTlsProtocols) {
    long options = 0;
    if ((acceptableTlsProtocols & 1) == 0) {
        options |= NO_TLSv1;
    }
    if ((acceptableTlsProtocols & 2) == 0) {
        options |= NO_TLSv1_1;
    }
    if ((acceptableTlsProtocols & 4) == 0) {
        options |= NO_TLSv1_2;
    }
    return options;
}

long OpenSSLOptions::getOptions(long acceptableTlsProtocols) {
    const long options = translateTlsVersions(acceptableTlsProtocols) | getDefaultOptions();
    if (options > getDefaultOptions()) {
        OXL_LOG_DEBUG(logger(), toString(options));
    }
    return options;
}

std::string OpenSSLOptions::toString(long options) {
    std::string text = "OpenSSL Options:";
    if ((options & NO_SSLv2) != 0) {
        text += " SSL_OP_NO_SSLv2";
    }
    if ((options & NO_SSLv3) != 0) {
        text += " SSL_OP_NO_SSLv3";
    }
    if ((options & NO_TLSv1) != 0) {
        text += " SSL_OP_NO_TLSv1";
    }
    if ((options & NO_TLSv1_1) != 0) {
        text += " SSL_OP_NO_TLSv1_1";
    }
    if ((options & NO_TLSv1_2) != 0) {
        text += " SSL_OP_NO_TLSv1_2";
    }
    return text;
}

OpenSSLOptions::VersionRange OpenSSLOptions::toVersionRange(long options) {
    VersionRange range;
    size_t i = 0;
    while (i < VERSIONS.size() && VERSIONS[i].disabledBy != 0 && (options & VERSIONS[i].disabledBy) != 0) {
        ++i;
    }
    range.minVersion = VERSIONS[i].version;
    // A set that switches off a classic version names the versions it accepts: TLS 1.3, which has no bit
    // of its own, is not among them. Only the full set leaves the upper end open.
    const bool restricted = (options & (NO_TLSv1 | NO_TLSv1_1 | NO_TLSv1_2)) != 0;
    // Versions above a disabled one are off too, as with OpenSSL's own option bits.
    while (i + 1 < VERSIONS.size() && (options & VERSIONS[i + 1].disabledBy) == 0 &&
           (VERSIONS[i + 1].disabledBy != 0 || !restricted)) {
        ++i;
    }
    range.maxVersion = (VERSIONS[i].disabledBy == 0) ? 0 : VERSIONS[i].version;
    return range;
}

bool OpenSSLOptions::apply(SSL_CTX* ctx, long options) {
    if (ctx == nullptr) {
        return false;
    }
    const VersionRange wanted = toVersionRange(options);
    const long currentMin = SSL_CTX_get_min_proto_version(ctx);
    const long currentMax = SSL_CTX_get_max_proto_version(ctx);
    const long newMin = (currentMin == 0 || wanted.minVersion > currentMin) ? wanted.minVersion : currentMin;
    long newMax = currentMax;
    if (wanted.maxVersion != 0 && (currentMax == 0 || wanted.maxVersion < currentMax)) {
        newMax = wanted.maxVersion;
    }
    if (SSL_CTX_set_min_proto_version(ctx, newMin) != 1 || SSL_CTX_set_max_proto_version(ctx, newMax) != 1) {
        OXL_LOG_ERROR(logger(), "Unable to restrict the TLS versions to " << toString(options));
        return false;
    }
    return true;
}

}  // namespace oxl::http
