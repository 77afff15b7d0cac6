#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

#include "oxl/cert/utils/KeyStrengthParser.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.utils");
    return l;
}

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

}  // namespace

CertKeyStrengthResult::Result KeyStrengthParserImpl::parse(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_WARN(logger(), "Invalid cert passed in!");
        return CertKeyStrengthResult::INTERNAL_ERROR;
    }
    keyBits_ = 0;
    keyType_ = 0;
    std::unique_ptr<EVP_PKEY, PkeyDeleter> key(X509_get_pubkey(const_cast<X509*>(cert)));
    if (key) {
        keyType_ = EVP_PKEY_get_base_id(key.get());
        keyBits_ = EVP_PKEY_get_bits(key.get());
    }
    OXL_LOG_DEBUG(logger(), "Cert Public Key type is '" << publicKeyTypeToString(keyType_) << "'");
    OXL_LOG_DEBUG(logger(), "Cert KeyStrength parsed: " << keyBits_);
    parsed_ = true;
    return CertKeyStrengthResult::SUCCESS;
}

bool KeyStrengthParserImpl::parsed() const {
    return parsed_;
}

CertKeyStrengthResult::Result KeyStrengthParserImpl::verify(int minimumBits) const {
    if (!parsed_) {
        return CertKeyStrengthResult::INTERNAL_ERROR;
    }
    if (!isKeyStrengthCheckRequiredForType(keyType_)) {
        OXL_LOG_DEBUG(
            logger(),
            "The check for the strength of the public key is not required as the key type is sufficiently "
            "strong.");
        return CertKeyStrengthResult::SUCCESS;
    }
    return minimumBits > keyBits_ ? CertKeyStrengthResult::FAILURE : CertKeyStrengthResult::SUCCESS;
}

bool KeyStrengthParserImpl::isKeyStrengthCheckRequiredForType(int keyType) {
    // Elliptic-curve keys are far stronger per bit than the RSA-sized minimum the check is meant for.
    return keyType != NID_X9_62_id_ecPublicKey;
}

std::string KeyStrengthParserImpl::publicKeyTypeToString(int keyType) {
    switch (keyType) {
        case NID_rsaEncryption:
            return "rsaEncryption";
        case NID_rsa:
            return "rsa";
        case NID_dhKeyAgreement:
            return "dhKeyAgreement";
        case NID_dsaWithSHA:
            return "dsaWithSHA";
        case NID_dsa_2:
            return "dsaEncryption-old";
        case NID_dsaWithSHA1_2:
            return "dsaWithSHA1-old";
        case NID_dsaWithSHA1:
            return "dsaWithSHA1";
        case NID_dsa:
            return "dsaEncryption";
        case NID_X9_62_id_ecPublicKey:
            return "id-ecPublicKey";
        case NID_hmac:
            return "hmac";
        case NID_cmac:
            return "cmac";
        default:
            return "undefined";
    }
}

std::shared_ptr<KeyStrengthParser> KeyStrengthParserFactory::buildKeyStrengthParser() {
    return std::make_shared<KeyStrengthParserImpl>();
}

}  // namespace oxl::cert
