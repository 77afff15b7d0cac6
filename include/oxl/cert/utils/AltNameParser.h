// The identities a server certificate claims (dNSName, iPAddress, SRVName and XmppAddr alternative names,
// subject common name) and the matching of reference identifiers against them.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "oxl/cert/utils/CertIdentifierStatus.h"

namespace oxl::cert {

class AltNameParser {
  public:
    // Reads the identities of the certificate: SUCCESS when at least one identity was found,
    // NO_IDENTITY_INFO_IN_CERT when none, INTERNAL_ERROR for a null certificate.
    virtual CertIdentifierStatus::Status parse(const X509* cert) = 0;
    // XMPP rules: an XmppAddr equal to the domain, an SRVName "_xmpp-server.<domain>", then verify(domain).
    virtual CertIdentifierStatus::Status verifyXmpp(const std::string& domain) = 0;
    // An IP literal (IPv4, or IPv6 with or without brackets) matches only an iPAddress name with the same
    // bytes. Any other reference is a DNS name (ASCII case-insensitive, one trailing dot ignored): every
    // dNSName exactly or by a wildcard that is the whole left-most label and does not span a public suffix,
    // then (RFC 6125) the common name the same way, but only when the certificate has no dNSName, SRVName
    // or XmppAddr. SUCCESS or NO_MATCH_FOUND.
    virtual CertIdentifierStatus::Status verify(const std::string& referenceIdentifier) = 0;
    virtual std::vector<std::string> getDnsNames() const = 0;
    virtual std::vector<std::string> getSrvNames() const = 0;
    virtual std::vector<std::string> getXmppAddresses() const = 0;
    virtual std::string getCommonName() const = 0;
    // iPAddress names in their text form ("192.0.2.1", "2001:db8::1").
    virtual std::vector<std::string> getIpAddresses() const = 0;

  protected:
    // Not virtual, but protected so that a parser is never deleted through this interface; shared
    // pointers made from the implementation delete the right type.
    ~AltNameParser() = default;
};

class AltNameParserImpl : public AltNameParser {
  public:
    // OIDs of the otherName alternative names read by parse().
    static constexpr const char* SRV_NAME_OID = "1.3.6.1.5.5.7.8.7";
    static constexpr const char* XMPP_ADDR_OID = "1.3.6.1.5.5.7.8.5";

    AltNameParserImpl() = default;
    // Preset identities, for tests.
    AltNameParserImpl(std::vector<std::string> dnsNames, std::vector<std::string> srvNames,
                      std::vector<std::string> xmppAddresses, std::string commonName,
                      const std::vector<std::string>& ipAddresses = {});
    virtual ~AltNameParserImpl() = default;

    CertIdentifierStatus::Status parse(const X509* cert) override;
    CertIdentifierStatus::Status verifyXmpp(const std::string& domain) override;
    CertIdentifierStatus::Status verify(const std::string& referenceIdentifier) override;
    std::vector<std::string> getDnsNames() const override;
    std::vector<std::string> getSrvNames() const override;
    std::vector<std::string> getXmppAddresses() const override;
    std::string getCommonName() const override;
    std::vector<std::string> getIpAddresses() const override;

    // One-label wildcard rule: the pattern starts with "*.", the rest holds no other '*', does not look like
    // an IP address and is not a public suffix, and the parent domains of pattern and host are non-empty and
    // equal (ASCII case-insensitive).
    static bool wildcardMatch(const std::string& host, const std::string& pattern);
    // Everything after the first '.', or empty when there is none or it is the last character.
    static std::string parentDomain(const std::string& name);
    // Empty, containing ':', or digit groups of one to three digits separated by '.' (the last group of any
    // length).
    static bool looksLikeIpAddress(const std::string& text);

  private:
    CertIdentifierStatus::Status identityAvailability() const;
    CertIdentifierStatus::Status verifyIpAddress(const std::string& host, const std::string& bytes) const;
    CertIdentifierStatus::Status verifyDnsName(const std::string& host) const;

    std::vector<std::string> dnsNames_;
    std::vector<std::string> ipAddresses_;  // 4 or 16 bytes each
    std::vector<std::string> srvNames_;
    std::vector<std::string> xmppAddresses_;
    std::string commonName_;
};

class AltNameParserFactory {
  public:
    virtual std::shared_ptr<AltNameParser> buildAltNameParser();
    virtual ~AltNameParserFactory() = default;
};

}  // namespace oxl::cert
