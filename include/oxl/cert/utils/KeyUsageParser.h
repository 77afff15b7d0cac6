// Basic and extended key usage of one certificate.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "oxl/cert/utils/CertEnumerations.h"

namespace oxl::cert {

class KeyUsageParser {
  public:
    virtual ~KeyUsageParser() = default;
    // INTERNAL_ERROR for a null certificate, else SUCCESS.
    virtual CertKeyUsageResult::Result parse(const X509* cert) = 0;
    virtual bool parsed() const = 0;
    // Every required value must be present; an empty list is SUCCESS; INTERNAL_ERROR when not parsed.
    virtual CertKeyUsageResult::Result verifyBasicKeyUsage(
        const std::vector<BasicKeyUsage::Usage>& required) const = 0;
    virtual CertKeyUsageResult::Result verifyExtendedKeyUsage(
        const std::vector<ExtendedKeyUsage::Usage>& required) const = 0;
    // Parsed and at least one basic key usage bit.
    virtual bool hasBasicKeyUsage() const = 0;
    // Parsed and an extended-key-usage list with at least one entry.
    virtual bool hasExtendedKeyUsage() const = 0;
    // Parsed and anyExtendedKeyUsage present.
    virtual bool isAnyExtendedKeyUsageSet() const = 0;
    // Parsed and an extended-key-usage extension that lists nothing or cannot be read: the key may be used
    // for no purpose at all (unlike a certificate without the extension).
    virtual bool isExtendedKeyUsageEmpty() const = 0;
};

class KeyUsageParserImpl : public KeyUsageParser {
  public:
    CertKeyUsageResult::Result parse(const X509* cert) override;
    bool parsed() const override;
    CertKeyUsageResult::Result verifyBasicKeyUsage(
        const std::vector<BasicKeyUsage::Usage>& required) const override;
    CertKeyUsageResult::Result verifyExtendedKeyUsage(
        const std::vector<ExtendedKeyUsage::Usage>& required) const override;
    bool hasBasicKeyUsage() const override;
    bool hasExtendedKeyUsage() const override;
    bool isAnyExtendedKeyUsageSet() const override;
    bool isExtendedKeyUsageEmpty() const override;

    std::uint32_t getBasicKeyUsage() const { return basicKeyUsage_; }
    std::uint32_t getExtendedKeyUsage() const { return extendedKeyUsage_; }

    // OpenSSL key-usage bits (KU_*) to the OR of BasicKeyUsage values.
    static std::uint32_t long2KUsage(unsigned long opensslBits);
    // Extended-key-usage NID to its ExtendedKeyUsage bit, 0 for any other NID.
    static std::uint32_t nid2ExKUsage(int nid);
    // "[NAME, NAME]" in increasing bit order.
    static std::string basicKeyUsageAsString(unsigned long usage);
    static std::string extendedKeyUsageAsString(unsigned long usage);

  private:
    bool parsed_ = false;
    std::uint32_t basicKeyUsage_ = 0;
    std::uint32_t extendedKeyUsage_ = 0;
    bool noExtendedKeyUsage_ = true;
    bool anyExtendedKeyUsage_ = false;
    bool emptyExtendedKeyUsage_ = false;
};

class KeyUsageParserFactory {
  public:
    virtual std::shared_ptr<KeyUsageParser> buildKeyUsageParser();
    virtual ~KeyUsageParserFactory() = default;
};

}  // namespace oxl::cert
