// A throw-away certificate authority for the sandbox servers: a root and one server certificate for
// "localhost", 127.0.0.1 and ::1 (plus extra names), generated in memory at run time. Only the root
// certificate is written to disk (a private temporary directory removed with the object) so that clients
// can trust it; the private keys never leave memory.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace oxl::sandbox {

class SandboxPki {
  public:
    // False from ok() when OpenSSL failed; the servers then refuse to start.
    explicit SandboxPki(const std::vector<std::string>& extraDnsNames = {});
    ~SandboxPki();
    SandboxPki(const SandboxPki&) = delete;
    SandboxPki& operator=(const SandboxPki&) = delete;

    bool ok() const { return leaf_ != nullptr && leafKey_ != nullptr && !trustFile_.empty(); }
    X509* leafCertificate() const { return leaf_.get(); }
    EVP_PKEY* leafKey() const { return leafKey_.get(); }
    // PEM file holding the root certificate alone.
    const std::string& trustFile() const { return trustFile_; }

  private:
    struct X509Free {
        void operator()(X509* x) const { X509_free(x); }
    };
    struct KeyFree {
        void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
    };
    std::unique_ptr<X509, X509Free> root_;
    std::unique_ptr<EVP_PKEY, KeyFree> rootKey_;
    std::unique_ptr<X509, X509Free> leaf_;
    std::unique_ptr<EVP_PKEY, KeyFree> leafKey_;
    std::string dir_;
    std::string trustFile_;
};

}  // namespace oxl::sandbox
