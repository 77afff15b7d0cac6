#include "sandbox/SandboxPki.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace oxl::sandbox {

namespace {

struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};

EVP_PKEY* makeKey() {
    return EVP_RSA_gen(2048);
}

bool addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// issuer/issuerKey null: self-signed.
X509* makeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                      bool isCa, const std::string& subjectAltName) {
    X509* cert = X509_new();
    if (cert == nullptr) {
        return nullptr;
    }
    unsigned char serial[16];
    BIGNUM* bn = nullptr;
    bool ok = X509_set_version(cert, 2) == 1 && RAND_bytes(serial, sizeof serial) == 1;
    if (ok) {
        serial[0] &= 0x7F;
        bn = BN_bin2bn(serial, sizeof serial, nullptr);
        ok = bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
    }
    BN_free(bn);
    ok = ok && X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600) != nullptr &&
         X509_set_pubkey(cert, key) == 1;
    X509_NAME* name = X509_get_subject_name(cert);
    ok = ok &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("oxlnet sandbox"), -1, -1,
                                    0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                    0) == 1;
    X509* signer = issuer != nullptr ? issuer : cert;
    ok = ok && X509_set_issuer_name(cert, X509_get_subject_name(signer)) == 1;
    if (isCa) {
        ok = ok && addExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             addExtension(cert, signer, NID_subject_key_identifier, "hash");
    } else {
        ok = ok && addExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             addExtension(cert, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExtension(cert, signer, NID_ext_key_usage, "serverAuth") &&
             addExtension(cert, signer, NID_subject_alt_name, subjectAltName) &&
             addExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    }
    ok = ok && X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

SandboxPki::SandboxPki(const std::vector<std::string>& extraDnsNames) {
    rootKey_.reset(makeKey());
    leafKey_.reset(makeKey());
    if (!rootKey_ || !leafKey_) {
        leafKey_.reset();
        return;
    }
    root_.reset(makeCertificate("oxlnet sandbox root", rootKey_.get(), nullptr, nullptr, true, ""));
    if (!root_) {
        return;
    }
    std::string san = "DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1";
    for (const auto& name : extraDnsNames) {
        san += ",DNS:" + name;
    }
    leaf_.reset(makeCertificate("localhost", leafKey_.get(), root_.get(), rootKey_.get(), false, san));
    if (!leaf_) {
        return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "oxlnet-sandbox-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    dir_ = pattern;
    const std::string path = dir_ + "/trust.pem";
    std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "w"));
    if (file && PEM_write_X509(file.get(), root_.get()) == 1) {
        trustFile_ = path;
    }
}

SandboxPki::~SandboxPki() {
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

}  // namespace oxl::sandbox
