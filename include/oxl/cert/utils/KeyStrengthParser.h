// Public-key type and size of one certificate.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

#include "oxl/cert/utils/CertEnumerations.h"

namespace oxl::cert {

class KeyStrengthParser {
  public:
    virtual ~KeyStrengthParser() = default;
    // INTERNAL_ERROR for a null certificate, else SUCCESS (a certificate without a readable key has 0 bits).
    virtual CertKeyStrengthResult::Result parse(const X509* cert) = 0;
    virtual bool parsed() const = 0;
    // INTERNAL_ERROR when not parsed; SUCCESS for EC keys; otherwise FAILURE when the key is shorter than
    // minimumBits.
    virtual CertKeyStrengthResult::Result verify(int minimumBits) const = 0;
};

class KeyStrengthParserImpl : public KeyStrengthParser {
  public:
    CertKeyStrengthResult::Result parse(const X509* cert) override;
    bool parsed() const override;
    CertKeyStrengthResult::Result verify(int minimumBits) const override;

    int getKeyBits() const { return keyBits_; }
    // OpenSSL NID of the public-key type, 0 when unknown.
    int getKeyType() const { return keyType_; }

    static bool isKeyStrengthCheckRequiredForType(int keyType);
    // Names used in log lines only.
    static std::string publicKeyTypeToString(int keyType);

  private:
    bool parsed_ = false;
    int keyBits_ = 0;
    int keyType_ = 0;
};

class KeyStrengthParserFactory {
  public:
    virtual std::shared_ptr<KeyStrengthParser> buildKeyStrengthParser();
    virtual ~KeyStrengthParserFactory() = default;
};

}  // namespace oxl::cert
