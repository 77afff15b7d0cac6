// Small result and usage enumerations of the certificate subsystem, each in a struct of its own name.
#pragma once

#include <cstdint>
#include <ostream>

namespace oxl::cert {

struct CertKeyUsageResult {
    enum Result : int {
        SUCCESS = 0,
        NO_MATCHING_BASIC_KEY_USAGE_FOUND = 1,
        NO_MATCHING_EXTENDED_KEY_USAGE_FOUND = 2,
        INTERNAL_ERROR = 3,
    };
};

struct CertKeyStrengthResult {
    enum Result : int {
        SUCCESS = 0,
        FAILURE = 1,
        INTERNAL_ERROR = 2,
    };
};

struct CertAcceptanceDecision {
    enum Decision : int {
        YES = 0,
        NO = 1,
        POLICY_ENFORCEMENT_ERROR = 2,
        UNKNOWN = 3,
    };
};

struct CertEncoding {
    enum Format : int {
        DER = 0,
        PEM = 1,
    };
};

// Bit set: a certificate's basic key usages are the OR of several values.
struct BasicKeyUsage {
    enum Usage : std::uint32_t {
        DIGITAL_SIGNATURE = 1,
        NON_REPUDIATION = 2,
        KEY_ENCIPHERMENT = 4,
        DATA_ENCIPHERMENT = 8,
        KEY_AGREEMENT = 16,
        KEY_CERT_SIGN = 32,
        CRL_SIGN = 64,
        ENCIPHER_ONLY = 128,
        DECIPHER_ONLY = 256,
    };
};

// Bit set taken from the extended-key-usage object identifiers of a certificate.
struct ExtendedKeyUsage {
    enum Usage : std::uint32_t {
        SERVER_AUTH = 1,
        CLIENT_AUTH = 2,
        CODE_SIGNING = 4,
        EMAIL_PROTECTION = 8,
        IPSEC_END_SYSTEM = 16,
        IPSEC_TUNNEL = 32,
        IPSEC_USER = 64,
        TIME_STAMPING = 128,
        OCSP_SIGN = 256,
        DVCS = 512,
    };
};

// Unknown values print as "Unexpected value (N)".
std::ostream& operator<<(std::ostream& os, CertKeyUsageResult::Result value);
std::ostream& operator<<(std::ostream& os, CertKeyStrengthResult::Result value);
std::ostream& operator<<(std::ostream& os, CertAcceptanceDecision::Decision value);
std::ostream& operator<<(std::ostream& os, CertEncoding::Format value);
// Unknown values (including combinations of bits) print as the bare number.
std::ostream& operator<<(std::ostream& os, BasicKeyUsage::Usage value);
std::ostream& operator<<(std::ostream& os, ExtendedKeyUsage::Usage value);

}  // namespace oxl::cert
