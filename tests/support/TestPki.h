// Test PKI: certificates, keys and CRLs generated at test time through the OpenSSL API, and PEM files
// written into a private temporary directory that is removed with the TestPki object. Nothing here is
// meant for production; no key or certificate is ever committed to the repository.
//
// Typical use:
//   oxl::test::TestPki pki;
//   auto root = TestPki::makeRoot("Test Root");
//   auto inter = TestPki::makeIntermediate("Test Intermediate", root);
//   auto leaf = TestPki::makeLeaf("host.example.com", inter);
//   std::string trust = pki.writeCertificates("trust.pem", {root.x509()});
//
//   // A ready-made server certificate for an HTTPS fixture, under a fresh root:
//   auto chain = pki.makeServerChain("localhost");
//   server.load(chain.certFile, chain.keyFile);   // leaf + intermediate, leaf key
//   client.trust(chain.trustFile);                // the root only
//
// Every function throws std::runtime_error when OpenSSL fails (a broken test setup, not a test outcome).
#pragma once

#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace oxl::test {

struct X509Free {
    void operator()(X509* cert) const;
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const;
};
struct CrlFree {
    void operator()(X509_CRL* crl) const;
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using CrlPtr = std::unique_ptr<X509_CRL, CrlFree>;

enum class KeyType { RSA, EC };

struct KeySpec {
    KeyType type = KeyType::RSA;
    // RSA modulus size, or the EC curve size: 256 (P-256), 384 (P-384), 521 (P-521).
    int bits = 2048;
    // false: the key may come from a small process-wide pool of keys of the same type and size (RSA key
    // generation is slow); consecutive certificates still get different keys. true: always a new key.
    bool fresh = false;
};

// Everything a generated certificate can carry. Defaults give a plain end-entity certificate without any
// extension except basicConstraints CA:FALSE, valid from one hour ago for 30 days, RSA 2048, SHA-256.
struct CertSpec {
    std::string commonName;                  // subject CN; empty: no CN attribute
    std::string organization;                // subject O; empty: none
    std::vector<std::string> dnsNames;       // subjectAltName dNSName (bytes taken as they are)
    std::vector<std::string> ipAddresses;    // subjectAltName iPAddress, as text ("127.0.0.1", "::1")
    std::vector<std::string> srvNames;       // otherName id-on-dnsSRV 1.3.6.1.5.5.7.8.7 (IA5String)
    std::vector<std::string> xmppAddresses;  // otherName id-on-xmppAddr 1.3.6.1.5.5.7.8.5 (UTF8String)
    std::vector<std::pair<std::string, std::string>> otherNames;  // any other (dotted OID, UTF8String value)
    // otherNames with a chosen ASN.1 string type (dotted OID, value, V_ASN1_IA5STRING / V_ASN1_UTF8STRING
    // ...)
    std::vector<std::tuple<std::string, std::string, int>> extraOtherNames;
    // OR of OpenSSL's KU_* bits (KU_DIGITAL_SIGNATURE, KU_KEY_CERT_SIGN, ...); nullopt: no keyUsage
    // extension.
    std::optional<unsigned> keyUsage;
    // Extended key usage NIDs (NID_server_auth, NID_client_auth, NID_anyExtendedKeyUsage, ...); empty: no
    // extendedKeyUsage extension.
    std::vector<int> extendedKeyUsage;
    bool emptyExtendedKeyUsage = false;  // an extendedKeyUsage extension listing nothing
    // nameConstraints (critical) with these dNSName subtrees ("corp.example", ".corp.example"); none: no
    // extension.
    std::vector<std::string> permittedDnsSubtrees;
    std::vector<std::string> excludedDnsSubtrees;
    KeySpec key;
    const EVP_MD* digest =
        nullptr;  // the issuer's signature digest; null: SHA-256 (EVP_md5(), EVP_sha1() ...)
    long notBeforeOffsetSeconds = -3600;  // relative to now; negative is in the past
    long notAfterOffsetSeconds = 30L * 24 * 3600;
    bool addBasicConstraints = true;  // false: no basicConstraints extension at all
    bool basicConstraintsCritical = true;
    bool addKeyIdentifiers = true;  // false: neither subjectKeyIdentifier nor authorityKeyIdentifier
    bool isCa = false;
    int pathLength = -1;  // CA only; -1: no path length constraint
};

// A certificate with its private key.
struct TestCert {
    X509Ptr cert;
    PkeyPtr key;

    X509* x509() const { return cert.get(); }
    EVP_PKEY* pkey() const { return key.get(); }
    std::string certPem() const;
    std::string keyPem() const;
};

// An X509_STORE_CTX as the TLS layer hands it to a verification callback: the server's certificate under
// verification and its untrusted chain (the leaf first, then the certificates the server sent), over an
// empty store.
class VerificationContext {
  public:
    VerificationContext(const X509* leaf, const std::vector<const X509*>& sentChain);
    ~VerificationContext();
    VerificationContext(const VerificationContext&) = delete;
    VerificationContext& operator=(const VerificationContext&) = delete;
    X509_STORE_CTX* get() const { return ctx_; }

  private:
    X509_STORE* store_ = nullptr;
    STACK_OF(X509) * untrusted_ = nullptr;
    X509_STORE_CTX* ctx_ = nullptr;
};

class TestPki {
  public:
    // Creates a fresh private temporary directory.
    TestPki();
    // Removes the directory with every file written into it.
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    const std::string& dir() const { return dir_; }

    static PkeyPtr makeKey(const KeySpec& spec);
    // Signs `spec` with the issuer's key (issuer name from its subject), or self-signed when issuer is null.
    static TestCert makeCert(const CertSpec& spec, const TestCert* issuer = nullptr);
    // Self-signed CA: keyCertSign|cRLSign, no path length limit unless `pathLength` >= 0.
    static TestCert makeRoot(const std::string& commonName, int pathLength = -1, KeySpec key = {});
    // CA signed by `issuer`: keyCertSign|cRLSign.
    static TestCert makeIntermediate(const std::string& commonName, const TestCert& issuer,
                                     int pathLength = -1, KeySpec key = {});
    // Server certificate: CN and dNSName `host` (or an iPAddress when host is an IP literal),
    // digitalSignature|keyEncipherment, serverAuth. leafSpec: the fields alone, to change before signing.
    static CertSpec leafSpec(const std::string& host, KeySpec key = {});
    static TestCert makeLeaf(const std::string& host, const TestCert& issuer, KeySpec key = {});
    // The same certificate with its signature bytes damaged (still parseable).
    static X509Ptr withBrokenSignature(const X509* cert);
    // A CRL signed by `issuer` listing the serial numbers of `revoked`, valid from one hour ago until
    // nextUpdateOffsetSeconds from now.
    static CrlPtr makeCrl(const TestCert& issuer, const std::vector<const X509*>& revoked,
                          long nextUpdateOffsetSeconds = 7L * 24 * 3600);

    // PEM files in dir(); each returns the full path. Certificates are written in the given order.
    std::string writeCertificates(const std::string& fileName, const std::vector<const X509*>& certs) const;
    std::string writeKey(const std::string& fileName, const EVP_PKEY* key) const;  // unencrypted, mode 0600
    std::string writeCrl(const std::string& fileName, const X509_CRL* crl) const;
    std::string writeText(const std::string& fileName, const std::string& text) const;

    struct ServerChainOptions {
        std::vector<std::string> extraDnsNames;  // added to the leaf's dNSNames
        std::vector<std::string> ipAddresses;    // added to the leaf's iPAddresses
        KeySpec leafKey;
        bool withIntermediate = true;  // false: the root signs the leaf directly
    };
    // A server certificate for `host` under a fresh root (and intermediate).
    struct ServerChain {
        TestCert root;
        TestCert intermediate;  // empty when made without one
        TestCert leaf;
        std::string certFile;   // leaf, then intermediate: what the server presents
        std::string keyFile;    // the leaf's private key
        std::string chainFile;  // the intermediate alone (empty file without one)
        std::string trustFile;  // the root alone: what the client trusts
    };
    ServerChain makeServerChain(const std::string& host, const ServerChainOptions& options);
    ServerChain makeServerChain(const std::string& host) {
        return makeServerChain(host, ServerChainOptions{});
    }

  private:
    std::string path(const std::string& fileName) const;

    std::string dir_;
    mutable int counter_ = 0;
};

}  // namespace oxl::test
