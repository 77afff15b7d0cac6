#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <sstream>

#include "oxl/cert/utils/KeyUsageParser.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.utils");
    return l;
}

struct EkuDeleter {
    void operator()(EXTENDED_KEY_USAGE* eku) const { EXTENDED_KEY_USAGE_free(eku); }
};

template <typename Usage>
std::string bitsAsString(unsigned long usage) {
    std::ostringstream os;
    os << "[";
    bool first = true;
    for (unsigned bit = 0; bit < 32; ++bit) {
        const unsigned long value = 1UL << bit;
        if ((usage & value) != 0) {
            if (!first) {
                os << ", ";
            }
            first = false;
            os << static_cast<Usage>(value);
        }
    }
    os << "]";
    return os.str();
}

}  // namespace

std::uint32_t KeyUsageParserImpl::long2KUsage(unsigned long bits) {
    static constexpr std::pair<unsigned long, BasicKeyUsage::Usage> table[] = {
        {KU_DIGITAL_SIGNATURE, BasicKeyUsage::DIGITAL_SIGNATURE},
        {KU_NON_REPUDIATION, BasicKeyUsage::NON_REPUDIATION},
        {KU_KEY_ENCIPHERMENT, BasicKeyUsage::KEY_ENCIPHERMENT},
        {KU_DATA_ENCIPHERMENT, BasicKeyUsage::DATA_ENCIPHERMENT},
        {KU_KEY_AGREEMENT, BasicKeyUsage::KEY_AGREEMENT},
        {KU_KEY_CERT_SIGN, BasicKeyUsage::KEY_CERT_SIGN},
        {KU_CRL_SIGN, BasicKeyUsage::CRL_SIGN},
        {KU_ENCIPHER_ONLY, BasicKeyUsage::ENCIPHER_ONLY},
        {KU_DECIPHER_ONLY, BasicKeyUsage::DECIPHER_ONLY},
    };
    std::uint32_t usage = 0;
    for (const auto& [opensslBit, value] : table) {
        if ((bits & opensslBit) != 0) {
            usage |= value;
        }
    }
    return usage;
}

std::uint32_t KeyUsageParserImpl::nid2ExKUsage(int nid) {
    switch (nid) {
        case NID_server_auth:
            return ExtendedKeyUsage::SERVER_AUTH;
        case NID_client_auth:
            return ExtendedKeyUsage::CLIENT_AUTH;
        case NID_code_sign:
            return ExtendedKeyUsage::CODE_SIGNING;
        case NID_email_protect:
            return ExtendedKeyUsage::EMAIL_PROTECTION;
        case NID_ipsecEndSystem:
            return ExtendedKeyUsage::IPSEC_END_SYSTEM;
        case NID_ipsecTunnel:
            return ExtendedKeyUsage::IPSEC_TUNNEL;
        case NID_ipsecUser:
            return ExtendedKeyUsage::IPSEC_USER;
        case NID_time_stamp:
            return ExtendedKeyUsage::TIME_STAMPING;
        case NID_OCSP_sign:
            return ExtendedKeyUsage::OCSP_SIGN;
        case NID_dvcs:
            return ExtendedKeyUsage::DVCS;
        default:
            return 0;
    }
}

std::string KeyUsageParserImpl::basicKeyUsageAsString(unsigned long usage) {
    return bitsAsString<BasicKeyUsage::Usage>(usage);
}

std::string KeyUsageParserImpl::extendedKeyUsageAsString(unsigned long usage) {
    return bitsAsString<ExtendedKeyUsage::Usage>(usage);
}

CertKeyUsageResult::Result KeyUsageParserImpl::parse(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_WARN(logger(), "Invalid cert passed in!");
        return CertKeyUsageResult::INTERNAL_ERROR;
    }
    parsed_ = true;
    basicKeyUsage_ = 0;
    extendedKeyUsage_ = 0;
    noExtendedKeyUsage_ = true;
    anyExtendedKeyUsage_ = false;
    emptyExtendedKeyUsage_ = false;

    // X509_get_key_usage fills OpenSSL's extension cache and answers UINT32_MAX when the extension is absent.
    if (X509_get_extension_flags(const_cast<X509*>(cert)) & EXFLAG_KUSAGE) {
        basicKeyUsage_ = long2KUsage(X509_get_key_usage(const_cast<X509*>(cert)));
    }

    std::unique_ptr<EXTENDED_KEY_USAGE, EkuDeleter> eku(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)));
    if (!eku && X509_get_ext_by_NID(cert, NID_ext_key_usage, -1) >= 0) {
        OXL_LOG_WARN(logger(), "Extended key usage extension cannot be read; the key allows no usage");
        emptyExtendedKeyUsage_ = true;
    }
    if (eku) {
        const int count = sk_ASN1_OBJECT_num(eku.get());
        if (count > 0) {
            noExtendedKeyUsage_ = false;
        } else {
            emptyExtendedKeyUsage_ = true;
        }
        for (int i = 0; i < count; ++i) {
            const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(eku.get(), i));
            if (nid == NID_anyExtendedKeyUsage) {
                anyExtendedKeyUsage_ = true;
            } else {
                extendedKeyUsage_ |= nid2ExKUsage(nid);
            }
        }
    }
    OXL_LOG_DEBUG(logger(), "Basic Key Usage in cert: " << basicKeyUsageAsString(basicKeyUsage_)
                                                        << ", Extended Key Usage in cert: "
                                                        << extendedKeyUsageAsString(extendedKeyUsage_));
    return CertKeyUsageResult::SUCCESS;
}

bool KeyUsageParserImpl::parsed() const {
    return parsed_;
}

CertKeyUsageResult::Result KeyUsageParserImpl::verifyBasicKeyUsage(
    const std::vector<BasicKeyUsage::Usage>& required) const {
    if (!parsed_) {
        return CertKeyUsageResult::INTERNAL_ERROR;
    }
    for (auto usage : required) {
        if ((basicKeyUsage_ & usage) != usage) {
            OXL_LOG_INFO(logger(), "No matching key usage found in cert for: " << usage);
            return CertKeyUsageResult::NO_MATCHING_BASIC_KEY_USAGE_FOUND;
        }
    }
    return CertKeyUsageResult::SUCCESS;
}

CertKeyUsageResult::Result KeyUsageParserImpl::verifyExtendedKeyUsage(
    const std::vector<ExtendedKeyUsage::Usage>& required) const {
    if (!parsed_) {
        return CertKeyUsageResult::INTERNAL_ERROR;
    }
    for (auto usage : required) {
        if ((extendedKeyUsage_ & usage) != usage) {
            OXL_LOG_INFO(logger(), "No matching extended key usage found in cert for: " << usage);
            return CertKeyUsageResult::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND;
        }
    }
    return CertKeyUsageResult::SUCCESS;
}

bool KeyUsageParserImpl::hasBasicKeyUsage() const {
    return parsed_ && basicKeyUsage_ != 0;
}
bool KeyUsageParserImpl::hasExtendedKeyUsage() const {
    return parsed_ && !noExtendedKeyUsage_;
}
bool KeyUsageParserImpl::isAnyExtendedKeyUsageSet() const {
    return parsed_ && anyExtendedKeyUsage_;
}
bool KeyUsageParserImpl::isExtendedKeyUsageEmpty() const {
    return parsed_ && emptyExtendedKeyUsage_;
}

std::shared_ptr<KeyUsageParser> KeyUsageParserFactory::buildKeyUsageParser() {
    return std::make_shared<KeyUsageParserImpl>();
}

}  // namespace oxl::cert
