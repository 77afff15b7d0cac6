// The verification pipeline shared by the HTTPS and XMPP verifiers: platform chain check, identity, key usage
// and (in FIPS mode) key strength, the ignore-condition policy, then the invalid-certificate policies.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oxl/cert/common/Identity.h"
#include "oxl/cert/utils/CertIdentifierStatus.h"
#include "oxl/cert/utils/CertResult.h"
#include "oxl/common/PolicyDriven.h"

namespace oxl::cert {

class AltNameParser;
class AltNameParserFactory;
class CertContainer;
class CertContainerFactory;
class CertificateData;
class CertificateDataFactory;
class CertificateVerificationListener;
class KeyStrengthParser;
class KeyStrengthParserFactory;
class KeyUsageParser;
class KeyUsageParserFactory;
class PlatformCertVerifier;
class PlatformVerificationHandler;

class BaseCertVerifier : public oxl::common::PolicyDriven {
  public:
    // Smallest RSA/DSA key accepted in FIPS mode.
    static constexpr int FIPS_MINIMUM_KEY_BITS = 2048;

    explicit BaseCertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier);
    ~BaseCertVerifier() override;

    // Also hands the policy to the verification handler. In FIPS mode an ignore-condition policy never
    // ignores wrong key usage or weak keys.
    void addPolicy(std::shared_ptr<oxl::common::Policy> policy) override;
    void removePolicy(oxl::common::Policy::PolicyNature::Nature nature) override;

    // Test seams.
    void setCertContainerFactory(std::shared_ptr<CertContainerFactory> factory);
    void setAltNameParserFactory(std::shared_ptr<AltNameParserFactory> factory);
    void setKeyUsageParserFactory(std::shared_ptr<KeyUsageParserFactory> factory);
    void setKeyStrengthParserFactory(std::shared_ptr<KeyStrengthParserFactory> factory);
    void setCertificateDataFactory(std::shared_ptr<CertificateDataFactory> factory);

    std::shared_ptr<PlatformVerificationHandler> getPlatformVerificationHandler() const {
        return platformVerificationHandler_;
    }

  protected:
    // The whole pipeline; sets the identity's matched identifier on success.
    CertResult verifyCertificate(const std::shared_ptr<CertContainer>& container, Identity& identity);
    // False only for an invalid container or identity.
    bool verifyCertificateAsync(const std::shared_ptr<CertContainer>& container, Identity& identity,
                                const std::shared_ptr<CertificateVerificationListener>& listener,
                                CertResult& instantResult, unsigned int& requestId);

    std::shared_ptr<CertContainer> buildContainer(const X509_STORE_CTX* ctx) const;
    std::shared_ptr<CertContainer> buildContainer(const X509* cert) const;

    // Matches one reference identifier by the verifier's rules.
    virtual CertIdentifierStatus::Status checkIdentifier(std::shared_ptr<AltNameParser> parser,
                                                         const std::string& identifier) = 0;

  private:
    struct Factories;

    Factories factories() const;
    static std::shared_ptr<CertificateData> buildCertificateData(
        const Factories& f, const std::shared_ptr<CertContainer>& container);
    // Platform chain check, certificate checks and the ignore-condition policy.
    CertResult doVerifyCertificate(const std::shared_ptr<CertContainer>& container, Identity& identity,
                                   const Factories& factories);
    bool parseCert(const X509* cert, const std::shared_ptr<AltNameParser>& altNames,
                   const std::shared_ptr<KeyUsageParser>& keyUsage,
                   const std::shared_ptr<KeyStrengthParser>& keyStrength);
    // `matchedNames` receives the identifiers the certificate was matched for.
    CertResult checkCertificate(const std::shared_ptr<AltNameParser>& altNames,
                                const std::shared_ptr<KeyUsageParser>& keyUsage,
                                const std::shared_ptr<KeyStrengthParser>& keyStrength,
                                const Identity& identity, std::vector<std::string>& matchedNames);
    CertResult checkIdentity(const std::shared_ptr<AltNameParser>& parser, const Identity& identity,
                             std::vector<std::string>& matchedNames);
    CertIdentifierStatus checkIdentifiers(const std::shared_ptr<AltNameParser>& parser,
                                          const std::vector<std::string>& identifiers);
    static CertResult checkKeyUsage(const std::shared_ptr<KeyUsageParser>& parser);
    static CertResult checkKeyStrength(const std::shared_ptr<KeyStrengthParser>& parser);
    void applyIgnoreInvalidCertConditionPolicy(CertResult& result) const;

    mutable std::mutex factoriesMutex_;
    std::shared_ptr<CertContainerFactory> certContainerFactory_;
    std::shared_ptr<PlatformCertVerifier> platformCertVerifier_;
    std::shared_ptr<AltNameParserFactory> altNameParserFactory_;
    std::shared_ptr<KeyUsageParserFactory> keyUsageParserFactory_;
    std::shared_ptr<KeyStrengthParserFactory> keyStrengthParserFactory_;
    std::shared_ptr<CertificateDataFactory> certificateDataFactory_;
    std::shared_ptr<PlatformVerificationHandler> platformVerificationHandler_;
};

}  // namespace oxl::cert
