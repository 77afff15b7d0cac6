#include "support/TestPki.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

namespace oxl::test {

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("TestPki: ") + what + " failed");
    }
}

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct GeneralNamesFree {
    void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

PkeyPtr generateKey(const KeySpec& spec) {
    EVP_PKEY* key = nullptr;
    if (spec.type == KeyType::RSA) {
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(spec.bits));
    } else {
        const char* curve = spec.bits <= 256 ? "P-256" : spec.bits <= 384 ? "P-384" : "P-521";
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve);
    }
    check(key != nullptr, "key generation");
    return PkeyPtr(key);
}

// A few keys per type and size, handed out in turn, so that a test run generates only a handful of slow RSA
// keys while neighbouring certificates (issuer and subject) still differ.
PkeyPtr pooledKey(const KeySpec& spec) {
    constexpr size_t kPoolSize = 6;
    struct Pool {
        std::array<PkeyPtr, kPoolSize> keys;
        size_t next = 0;
    };
    static std::mutex mutex;
    static std::map<std::pair<int, int>, Pool> pools;
    std::lock_guard<std::mutex> lock(mutex);
    Pool& pool = pools[{static_cast<int>(spec.type), spec.bits}];
    PkeyPtr& slot = pool.keys[pool.next];
    pool.next = (pool.next + 1) % kPoolSize;
    if (!slot) {
        slot = generateKey(spec);
    }
    check(EVP_PKEY_up_ref(slot.get()) == 1, "EVP_PKEY_up_ref");
    return PkeyPtr(slot.get());
}

int64_t nextSerial() {
    static std::atomic<int64_t> serial{0x10000};
    return serial++;
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    check(ext != nullptr, "X509V3_EXT_conf_nid");
    const int ok = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    check(ok == 1, "X509_add_ext");
}

GENERAL_NAME* stringName(int type, const std::string& text) {
    ASN1_IA5STRING* s = ASN1_IA5STRING_new();
    check(s != nullptr && ASN1_STRING_set(s, text.data(), static_cast<int>(text.size())) == 1,
          "ASN1_STRING_set");
    GENERAL_NAME* name = GENERAL_NAME_new();
    check(name != nullptr, "GENERAL_NAME_new");
    GENERAL_NAME_set0_value(name, type, s);
    return name;
}

GENERAL_NAME* otherName(const std::string& oid, const std::string& text, int stringType) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid.c_str(), 1);
    check(obj != nullptr, "OBJ_txt2obj");
    ASN1_STRING* s = ASN1_STRING_type_new(stringType);
    check(s != nullptr && ASN1_STRING_set(s, text.data(), static_cast<int>(text.size())) == 1,
          "ASN1_STRING_set");
    ASN1_TYPE* value = ASN1_TYPE_new();
    check(value != nullptr, "ASN1_TYPE_new");
    ASN1_TYPE_set(value, stringType, s);
    GENERAL_NAME* name = GENERAL_NAME_new();
    check(name != nullptr && GENERAL_NAME_set0_othername(name, obj, value) == 1,
          "GENERAL_NAME_set0_othername");
    return name;
}

void addSubjectAltNames(X509* cert, const CertSpec& spec) {
    if (spec.dnsNames.empty() && spec.ipAddresses.empty() && spec.srvNames.empty() &&
        spec.xmppAddresses.empty() && spec.otherNames.empty() && spec.extraOtherNames.empty()) {
        return;
    }
    std::unique_ptr<GENERAL_NAMES, GeneralNamesFree> names(sk_GENERAL_NAME_new_null());
    check(names != nullptr, "sk_GENERAL_NAME_new_null");
    auto push = [&](GENERAL_NAME* name) { check(sk_GENERAL_NAME_push(names.get(), name) > 0, "push name"); };
    for (const auto& dns : spec.dnsNames) {
        push(stringName(GEN_DNS, dns));
    }
    for (const auto& ip : spec.ipAddresses) {
        ASN1_OCTET_STRING* address = a2i_IPADDRESS(ip.c_str());
        check(address != nullptr, "a2i_IPADDRESS");
        GENERAL_NAME* name = GENERAL_NAME_new();
        check(name != nullptr, "GENERAL_NAME_new");
        GENERAL_NAME_set0_value(name, GEN_IPADD, address);
        push(name);
    }
    for (const auto& srv : spec.srvNames) {
        push(otherName("1.3.6.1.5.5.7.8.7", srv, V_ASN1_IA5STRING));
    }
    for (const auto& xmpp : spec.xmppAddresses) {
        push(otherName("1.3.6.1.5.5.7.8.5", xmpp, V_ASN1_UTF8STRING));
    }
    for (const auto& [oid, value] : spec.otherNames) {
        push(otherName(oid, value, V_ASN1_UTF8STRING));
    }
    for (const auto& [oid, value, type] : spec.extraOtherNames) {
        push(otherName(oid, value, type));
    }
    check(X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1, "add SAN");
}

std::string keyUsageText(unsigned bits) {
    static const std::pair<unsigned, const char*> names[] = {
        {KU_DIGITAL_SIGNATURE, "digitalSignature"},
        {KU_NON_REPUDIATION, "nonRepudiation"},
        {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
        {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
        {KU_KEY_AGREEMENT, "keyAgreement"},
        {KU_KEY_CERT_SIGN, "keyCertSign"},
        {KU_CRL_SIGN, "cRLSign"},
        {KU_ENCIPHER_ONLY, "encipherOnly"},
        {KU_DECIPHER_ONLY, "decipherOnly"},
    };
    std::string text = "critical";
    for (const auto& [bit, name] : names) {
        if ((bits & bit) != 0) {
            text += ",";
            text += name;
        }
    }
    return text;
}

bool isIpLiteral(const std::string& host) {
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
    ASN1_OCTET_STRING_free(address);
    return address != nullptr;
}

}  // namespace

void X509Free::operator()(X509* cert) const {
    X509_free(cert);
}
void PkeyFree::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}
void CrlFree::operator()(X509_CRL* crl) const {
    X509_CRL_free(crl);
}

std::string TestCert::certPem() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && PEM_write_bio_X509(bio.get(), cert.get()) == 1, "PEM_write_bio_X509");
    return bioText(bio.get());
}

std::string TestCert::keyPem() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM_write_bio_PrivateKey");
    return bioText(bio.get());
}

VerificationContext::VerificationContext(const X509* leaf, const std::vector<const X509*>& sentChain) {
    store_ = X509_STORE_new();
    untrusted_ = sk_X509_new_null();
    ctx_ = X509_STORE_CTX_new();
    check(store_ && untrusted_ && ctx_, "VerificationContext allocation");
    auto push = [&](const X509* cert) {
        X509* c = const_cast<X509*>(cert);
        check(X509_up_ref(c) == 1 && sk_X509_push(untrusted_, c) > 0, "sk_X509_push");
    };
    push(leaf);
    for (const X509* cert : sentChain) {
        push(cert);
    }
    check(X509_STORE_CTX_init(ctx_, store_, const_cast<X509*>(leaf), untrusted_) == 1, "X509_STORE_CTX_init");
}

VerificationContext::~VerificationContext() {
    X509_STORE_CTX_free(ctx_);
    sk_X509_pop_free(untrusted_, X509_free);
    X509_STORE_free(store_);
}

TestPki::TestPki() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/oxl-pki-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    dir_ = pattern;
}

TestPki::~TestPki() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

PkeyPtr TestPki::makeKey(const KeySpec& spec) {
    return spec.fresh ? generateKey(spec) : pooledKey(spec);
}

TestCert TestPki::makeCert(const CertSpec& spec, const TestCert* issuer) {
    TestCert result;
    result.key = makeKey(spec.key);
    result.cert.reset(X509_new());
    X509* cert = result.cert.get();
    check(cert != nullptr, "X509_new");
    check(X509_set_version(cert, X509_VERSION_3) == 1, "X509_set_version");
    check(ASN1_INTEGER_set_int64(X509_get_serialNumber(cert), nextSerial()) == 1, "serial");
    check(X509_gmtime_adj(X509_getm_notBefore(cert), spec.notBeforeOffsetSeconds) != nullptr, "notBefore");
    check(X509_gmtime_adj(X509_getm_notAfter(cert), spec.notAfterOffsetSeconds) != nullptr, "notAfter");

    X509_NAME* subject = X509_get_subject_name(cert);
    if (!spec.organization.empty()) {
        check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(spec.organization.c_str()),
                                         -1, -1, 0) == 1,
              "subject O");
    }
    if (!spec.commonName.empty()) {
        check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(spec.commonName.c_str()), -1,
                                         -1, 0) == 1,
              "subject CN");
    }
    check(
        X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer->x509()) : subject) == 1,
        "issuer name");
    check(X509_set_pubkey(cert, result.key.get()) == 1, "X509_set_pubkey");

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer != nullptr ? issuer->x509() : cert, cert, nullptr, nullptr, 0);
    if (spec.addBasicConstraints) {
        std::string bc = spec.isCa ? "CA:TRUE" : "CA:FALSE";
        if (spec.basicConstraintsCritical) {
            bc = "critical," + bc;
        }
        if (spec.isCa && spec.pathLength >= 0) {
            bc += ",pathlen:" + std::to_string(spec.pathLength);
        }
        addExtension(cert, &ctx, NID_basic_constraints, bc);
    }
    if (spec.keyUsage) {
        addExtension(cert, &ctx, NID_key_usage, keyUsageText(*spec.keyUsage));
    }
    if (!spec.extendedKeyUsage.empty()) {
        std::string eku;
        for (int nid : spec.extendedKeyUsage) {
            const char* name = OBJ_nid2sn(nid);
            check(name != nullptr, "unknown extended key usage NID");
            if (!eku.empty()) {
                eku += ',';
            }
            eku += name;
        }
        addExtension(cert, &ctx, NID_ext_key_usage, eku);
    }
    if (spec.emptyExtendedKeyUsage) {
        EXTENDED_KEY_USAGE* empty = sk_ASN1_OBJECT_new_null();
        check(empty != nullptr, "sk_ASN1_OBJECT_new_null");
        const int ok = X509_add1_ext_i2d(cert, NID_ext_key_usage, empty, 0, X509V3_ADD_DEFAULT);
        sk_ASN1_OBJECT_free(empty);
        check(ok == 1, "add empty EKU");
    }
    if (!spec.permittedDnsSubtrees.empty() || !spec.excludedDnsSubtrees.empty()) {
        std::string nc = "critical";
        for (const auto& name : spec.permittedDnsSubtrees) {
            nc += ",permitted;DNS:" + name;
        }
        for (const auto& name : spec.excludedDnsSubtrees) {
            nc += ",excluded;DNS:" + name;
        }
        addExtension(cert, &ctx, NID_name_constraints, nc);
    }
    if (spec.addKeyIdentifiers) {
        addExtension(cert, &ctx, NID_subject_key_identifier, "hash");
        // An issuer made without key identifiers has none to point at.
        if (issuer != nullptr && X509_get0_subject_key_id(issuer->x509()) != nullptr) {
            addExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always");
        }
    }
    addSubjectAltNames(cert, spec);

    EVP_PKEY* signingKey = issuer != nullptr ? issuer->pkey() : result.key.get();
    check(X509_sign(cert, signingKey, spec.digest != nullptr ? spec.digest : EVP_sha256()) > 0, "X509_sign");
    return result;
}

TestCert TestPki::makeRoot(const std::string& commonName, int pathLength, KeySpec key) {
    CertSpec spec;
    spec.commonName = commonName;
    spec.organization = "oxlnetutils tests";
    spec.isCa = true;
    spec.pathLength = pathLength;
    spec.keyUsage = KU_KEY_CERT_SIGN | KU_CRL_SIGN;
    spec.key = key;
    spec.notAfterOffsetSeconds = 365L * 24 * 3600;
    return makeCert(spec, nullptr);
}

TestCert TestPki::makeIntermediate(const std::string& commonName, const TestCert& issuer, int pathLength,
                                   KeySpec key) {
    CertSpec spec;
    spec.commonName = commonName;
    spec.organization = "oxlnetutils tests";
    spec.isCa = true;
    spec.pathLength = pathLength;
    spec.keyUsage = KU_KEY_CERT_SIGN | KU_CRL_SIGN;
    spec.key = key;
    spec.notAfterOffsetSeconds = 180L * 24 * 3600;
    return makeCert(spec, &issuer);
}

CertSpec TestPki::leafSpec(const std::string& host, KeySpec key) {
    CertSpec spec;
    spec.commonName = host;
    if (isIpLiteral(host)) {
        spec.ipAddresses = {host};
    } else {
        spec.dnsNames = {host};
    }
    spec.keyUsage = KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT;
    spec.extendedKeyUsage = {NID_server_auth};
    spec.key = key;
    return spec;
}

TestCert TestPki::makeLeaf(const std::string& host, const TestCert& issuer, KeySpec key) {
    return makeCert(leafSpec(host, key), &issuer);
}

X509Ptr TestPki::withBrokenSignature(const X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    check(length > 0, "i2d_X509");
    // The encoding ends with the signature value; changing its last byte keeps it parseable.
    der[length - 1] ^= 0x5A;
    const unsigned char* cursor = der;
    X509Ptr broken(d2i_X509(nullptr, &cursor, length));
    OPENSSL_free(der);
    check(broken != nullptr, "d2i_X509");
    return broken;
}

CrlPtr TestPki::makeCrl(const TestCert& issuer, const std::vector<const X509*>& revoked,
                        long nextUpdateOffsetSeconds) {
    CrlPtr crl(X509_CRL_new());
    check(crl != nullptr, "X509_CRL_new");
    check(X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2) == 1, "X509_CRL_set_version");
    check(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.x509())) == 1, "CRL issuer");
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> last(X509_gmtime_adj(nullptr, -3600),
                                                               ASN1_TIME_free);
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> next(
        X509_gmtime_adj(nullptr, nextUpdateOffsetSeconds), ASN1_TIME_free);
    check(last && next, "CRL times");
    check(X509_CRL_set1_lastUpdate(crl.get(), last.get()) == 1, "lastUpdate");
    check(X509_CRL_set1_nextUpdate(crl.get(), next.get()) == 1, "nextUpdate");
    for (const X509* cert : revoked) {
        X509_REVOKED* entry = X509_REVOKED_new();
        check(entry != nullptr, "X509_REVOKED_new");
        check(X509_REVOKED_set_serialNumber(entry, const_cast<ASN1_INTEGER*>(X509_get0_serialNumber(cert))) ==
                      1 &&
                  X509_REVOKED_set_revocationDate(entry, last.get()) == 1,
              "revoked entry");
        check(X509_CRL_add0_revoked(crl.get(), entry) == 1, "X509_CRL_add0_revoked");
    }
    check(X509_CRL_sort(crl.get()) == 1, "X509_CRL_sort");
    check(X509_CRL_sign(crl.get(), issuer.pkey(), EVP_sha256()) > 0, "X509_CRL_sign");
    return crl;
}

std::string TestPki::path(const std::string& fileName) const {
    return dir_ + "/" + fileName;
}

std::string TestPki::writeText(const std::string& fileName, const std::string& text) const {
    const std::string file = path(fileName);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    check(static_cast<bool>(out), "writing a file");
    return file;
}

std::string TestPki::writeCertificates(const std::string& fileName,
                                       const std::vector<const X509*>& certs) const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio != nullptr, "BIO_new");
    for (const X509* cert : certs) {
        check(PEM_write_bio_X509(bio.get(), cert) == 1, "PEM_write_bio_X509");
    }
    return writeText(fileName, bioText(bio.get()));
}

std::string TestPki::writeKey(const std::string& fileName, const EVP_PKEY* key) const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM_write_bio_PrivateKey");
    std::string text = bioText(bio.get());
    const std::string file = writeText(fileName, text);
    OPENSSL_cleanse(text.data(), text.size());
    chmod(file.c_str(), S_IRUSR | S_IWUSR);
    return file;
}

std::string TestPki::writeCrl(const std::string& fileName, const X509_CRL* crl) const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && PEM_write_bio_X509_CRL(bio.get(), crl) == 1, "PEM_write_bio_X509_CRL");
    return writeText(fileName, bioText(bio.get()));
}

TestPki::ServerChain TestPki::makeServerChain(const std::string& host, const ServerChainOptions& options) {
    const std::string prefix = "server" + std::to_string(++counter_) + "-";
    ServerChain chain;
    chain.root = makeRoot("oxl test root " + std::to_string(counter_));
    const TestCert* signer = &chain.root;
    if (options.withIntermediate) {
        chain.intermediate =
            makeIntermediate("oxl test intermediate " + std::to_string(counter_), chain.root, 0);
        signer = &chain.intermediate;
    }
    CertSpec spec;
    spec.commonName = host;
    (isIpLiteral(host) ? spec.ipAddresses : spec.dnsNames).push_back(host);
    spec.dnsNames.insert(spec.dnsNames.end(), options.extraDnsNames.begin(), options.extraDnsNames.end());
    spec.ipAddresses.insert(spec.ipAddresses.end(), options.ipAddresses.begin(), options.ipAddresses.end());
    spec.keyUsage = KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT;
    spec.extendedKeyUsage = {NID_server_auth};
    spec.key = options.leafKey;
    chain.leaf = makeCert(spec, signer);

    std::vector<const X509*> presented{chain.leaf.x509()};
    std::vector<const X509*> intermediates;
    if (options.withIntermediate) {
        presented.push_back(chain.intermediate.x509());
        intermediates.push_back(chain.intermediate.x509());
    }
    chain.certFile = writeCertificates(prefix + "cert.pem", presented);
    chain.keyFile = writeKey(prefix + "key.pem", chain.leaf.pkey());
    chain.chainFile = writeCertificates(prefix + "chain.pem", intermediates);
    chain.trustFile = writeCertificates(prefix + "trust.pem", {chain.root.x509()});
    return chain;
}

}  // namespace oxl::test
