// Certificates as a server presents them (DER, or PEM from files the tool reads): identities, key usage, key
// strength, the application's description of the certificate and the chain checks made after OpenSSL's.
// A name the certificate presents must match itself.
#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "cert/platform/ChainPolicyChecks.h"
#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/Identity.h"
#include "oxl/cert/utils/AltNameParser.h"
#include "oxl/cert/utils/CertUtils.h"
#include "oxl/cert/utils/KeyStrengthParser.h"
#include "oxl/cert/utils/KeyUsageParser.h"

using namespace oxl::cert;

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

struct StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};

std::string der(const X509* cert) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert, &out);
    std::string bytes =
        length > 0 ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(length)) : "";
    OPENSSL_free(out);
    return bytes;
}

// A name that is matched as a DNS name (not as an IP literal) and exactly.
bool isPlainDnsName(const std::string& name) {
    in_addr unused{};
    return !name.empty() && name.find('*') == std::string::npos && name.find(':') == std::string::npos &&
           name.back() != '.' && inet_aton(name.c_str(), &unused) == 0;
}

void checkIdentities(const X509* cert, const std::string& reference) {
    AltNameParserImpl parser;
    const auto status = parser.parse(cert);
    OXL_FUZZ_CHECK(
        status == CertIdentifierStatus::SUCCESS || status == CertIdentifierStatus::NO_IDENTITY_INFO_IN_CERT,
        "parse result");
    (void)parser.verify(reference);
    (void)parser.verifyXmpp(reference);
    for (const auto& name : parser.getDnsNames()) {
        if (isPlainDnsName(name)) {
            OXL_FUZZ_CHECK(parser.verify(name) == CertIdentifierStatus::SUCCESS, "own dNSName " + name);
        }
    }
    for (const auto& address : parser.getIpAddresses()) {
        OXL_FUZZ_CHECK(parser.verify(address) == CertIdentifierStatus::SUCCESS, "own iPAddress " + address);
    }
    for (const auto& xmpp : parser.getXmppAddresses()) {
        OXL_FUZZ_CHECK(parser.verifyXmpp(xmpp) == CertIdentifierStatus::SUCCESS, "own XmppAddr " + xmpp);
    }
    (void)AltNameParserImpl::wildcardMatch(reference, parser.getCommonName());
    (void)Identity({reference}, reference).getValidReferenceIdentifiers();
}

void checkUsageAndStrength(const X509* cert) {
    KeyUsageParserImpl usage;
    OXL_FUZZ_CHECK(usage.parse(cert) == CertKeyUsageResult::SUCCESS, "key usage parse");
    (void)usage.verifyBasicKeyUsage({BasicKeyUsage::DIGITAL_SIGNATURE, BasicKeyUsage::KEY_ENCIPHERMENT});
    (void)usage.verifyExtendedKeyUsage({ExtendedKeyUsage::SERVER_AUTH});
    (void)KeyUsageParserImpl::basicKeyUsageAsString(usage.getBasicKeyUsage());
    (void)KeyUsageParserImpl::extendedKeyUsageAsString(usage.getExtendedKeyUsage());

    KeyStrengthParserImpl strength;
    OXL_FUZZ_CHECK(strength.parse(cert) == CertKeyStrengthResult::SUCCESS, "key strength parse");
    OXL_FUZZ_CHECK(strength.getKeyBits() >= 0, "negative key size");
    (void)strength.verify(2048);
}

void checkDescription(const X509* cert) {
    const CertificateDataImpl description(cert);
    const auto pems = description.getPemCertificates();
    (void)description.getFingerprint();
    (void)description.getCommonName();
    if (pems.empty() || pems[0].empty()) {
        return;
    }
    // The PEM text handed to the application is the same certificate.
    X509Ptr again(CertUtils::loadCertificate(reinterpret_cast<const unsigned char*>(pems[0].data()),
                                             static_cast<int>(pems[0].size()), CertEncoding::PEM));
    OXL_FUZZ_CHECK(again != nullptr && der(again.get()) == der(cert), "PEM text of the certificate");
}

void checkChain(X509* cert, const std::string& reference) {
    std::unique_ptr<STACK_OF(X509), StackFree> chain(sk_X509_new_null());
    if (!chain || sk_X509_push(chain.get(), cert) <= 0 || sk_X509_push(chain.get(), cert) <= 0) {
        return;
    }
    const int notForServers = chain::firstCaNotForServers(chain.get());
    OXL_FUZZ_CHECK(notForServers == -1 || notForServers == 1, "depth " + std::to_string(notForServers));
    const int violation = chain::firstNameConstraintViolation(chain.get(), reference);
    OXL_FUZZ_CHECK(violation == -1 || violation == 1, "depth " + std::to_string(violation));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto format = input.ConsumeBool() ? CertEncoding::PEM : CertEncoding::DER;
    const std::string reference = oxl::fuzz::takeField(input, 256);
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    X509Ptr cert(CertUtils::loadCertificate(reinterpret_cast<const unsigned char*>(bytes.data()),
                                            static_cast<int>(bytes.size()), format));
    if (!cert) {
        return 0;
    }
    checkIdentities(cert.get(), reference);
    checkUsageAndStrength(cert.get());
    checkDescription(cert.get());
    checkChain(cert.get(), reference);
    return 0;
}
