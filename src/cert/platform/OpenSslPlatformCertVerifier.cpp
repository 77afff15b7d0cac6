#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <utility>
#include <vector>

#include "cert/platform/ChainPolicyChecks.h"
#include "oxl/common/FipsUtils.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

// Hosts set log levels by this name, shared with the chain verifiers of other platforms.
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.win32");
    return l;
}

struct StoreCtxDeleter {
    void operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
};

struct VerifyError {
    int code;
    int depth;
};

// Records every error of the chain and lets OpenSSL go on, so that all reasons are reported, not only the
// first one.
int recordAndContinue(int ok, X509_STORE_CTX* ctx) {
    if (ok == 0) {
        auto* errors = static_cast<std::vector<VerifyError>*>(X509_STORE_CTX_get_app_data(ctx));
        if (errors != nullptr) {
            errors->push_back({X509_STORE_CTX_get_error(ctx), X509_STORE_CTX_get_error_depth(ctx)});
        }
    }
    return 1;
}

// Keeps OpenSSL's per-thread error queue as the caller left it: this may run inside a TLS handshake, whose
// own error handling must not see our failures.
class ErrorQueueMark {
  public:
    ErrorQueueMark() { ERR_set_mark(); }
    ~ErrorQueueMark() { ERR_pop_to_mark(); }
    ErrorQueueMark(const ErrorQueueMark&) = delete;
    ErrorQueueMark& operator=(const ErrorQueueMark&) = delete;
};

// OpenSSL security level of every chain: 1 refuses MD5 and SHA-1 signatures and keys under 80 bits of
// strength (RSA below 1024 bits); FIPS mode asks for 112 bits (RSA 2048).
constexpr int SECURITY_LEVEL = 1;
constexpr int FIPS_SECURITY_LEVEL = 2;

// A chain that is not valid for server authentication is one the chain engine does not trust for it.
constexpr CertStatus::Status CA_NOT_FOR_SERVERS_STATUS = CertStatus::UNTRUSTED_ROOT;

std::mutex& defaultSettingsMutex() {
    static std::mutex m;
    return m;
}

PlatformTrustSettings& defaultSettings() {
    static PlatformTrustSettings s;
    return s;
}

}  // namespace

std::shared_ptr<PlatformCertVerifier> PlatformCertVerifier::createInstance() {
    return std::make_shared<OpenSslPlatformCertVerifier>(getDefaultTrustSettings());
}

void PlatformCertVerifier::setDefaultTrustSettings(const PlatformTrustSettings& settings) {
    std::lock_guard<std::mutex> lock(defaultSettingsMutex());
    defaultSettings() = settings;
}

PlatformTrustSettings PlatformCertVerifier::getDefaultTrustSettings() {
    std::lock_guard<std::mutex> lock(defaultSettingsMutex());
    return defaultSettings();
}

void PlatformCertVerifier::setTrustFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(defaultSettingsMutex());
    defaultSettings().trustFile = path;
}

void PlatformCertVerifier::setCrlFiles(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> lock(defaultSettingsMutex());
    defaultSettings().crlFiles = paths;
}

void OpenSslPlatformCertVerifier::StoreDeleter::operator()(X509_STORE* store) const {
    X509_STORE_free(store);
}

OpenSslPlatformCertVerifier::OpenSslPlatformCertVerifier(PlatformTrustSettings settings)
    : settings_(std::move(settings)) {}

OpenSslPlatformCertVerifier::~OpenSslPlatformCertVerifier() = default;

X509_STORE* OpenSslPlatformCertVerifier::store() {
    std::lock_guard<std::mutex> lock(storeMutex_);
    if (store_) {
        return store_.get();
    }
    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    if (!store) {
        OXL_LOG_ERROR(logger(), "Could not create the certificate store");
        return nullptr;
    }
    if (settings_.trustFile.empty()) {
        if (X509_STORE_set_default_paths(store.get()) != 1) {
            OXL_LOG_ERROR(logger(), "Could not load the default trusted certificates");
            return nullptr;
        }
    } else if (X509_STORE_load_file(store.get(), settings_.trustFile.c_str()) != 1) {
        OXL_LOG_ERROR(logger(), "Could not load trusted certificates from '" << settings_.trustFile << "'");
        return nullptr;
    }
    if (!settings_.crlFiles.empty()) {
        X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
        if (lookup == nullptr) {
            OXL_LOG_ERROR(logger(), "Could not create a CRL lookup");
            return nullptr;
        }
        for (const auto& path : settings_.crlFiles) {
            if (X509_load_crl_file(lookup, path.c_str(), X509_FILETYPE_PEM) <= 0) {
                OXL_LOG_ERROR(logger(), "Could not load CRLs from '" << path << "'");
                return nullptr;
            }
        }
        unsigned long flags = X509_V_FLAG_CRL_CHECK;
        if (settings_.checkWholeChainRevocation) {
            flags |= X509_V_FLAG_CRL_CHECK_ALL;
        }
        X509_STORE_set_flags(store.get(), flags);
    }
    // OpenSSL fills a certificate's extension cache on first use, and two verifications filling it at
    // once race; fill it now for every trusted certificate, while only this thread sees the store.
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.get());
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        if (X509* cert = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i))) {
            X509_check_purpose(cert, -1, 0);
        }
    }
    store_ = std::move(store);
    return store_.get();
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyCertificate(const X509_STORE_CTX* ctx) {
    if (ctx == nullptr || X509_STORE_CTX_get0_cert(ctx) == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(X509_STORE_CTX_get0_cert(ctx), ctx, {});
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyCertificate(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(cert, nullptr, {});
}

std::set<CertStatus::Status> PlatformCertVerifier::verifyForHostNames(const X509_STORE_CTX* ctx,
                                                                      const std::vector<std::string>&) {
    return verifyCertificate(ctx);
}

std::set<CertStatus::Status> PlatformCertVerifier::verifyForHostNames(const X509* cert,
                                                                      const std::vector<std::string>&) {
    return verifyCertificate(cert);
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyForHostNames(
    const X509_STORE_CTX* ctx, const std::vector<std::string>& hostNames) {
    if (ctx == nullptr || X509_STORE_CTX_get0_cert(ctx) == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(X509_STORE_CTX_get0_cert(ctx), ctx, hostNames);
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyForHostNames(
    const X509* cert, const std::vector<std::string>& hostNames) {
    if (cert == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(cert, nullptr, hostNames);
}

void OpenSslPlatformCertVerifier::applyParameters(X509_STORE_CTX* ctx) const {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_X509_STRICT);
    X509_VERIFY_PARAM_set_auth_level(
        param, oxl::common::FipsUtils::isFipsEnabled() ? FIPS_SECURITY_LEVEL : SECURITY_LEVEL);
    if (settings_.verificationTime) {
        X509_VERIFY_PARAM_set_time(param, *settings_.verificationTime);
    }
    if (settings_.maxIntermediates >= 0) {
        X509_VERIFY_PARAM_set_depth(param, settings_.maxIntermediates);
    }
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verify(const X509* leaf,
                                                                 const X509_STORE_CTX* source,
                                                                 const std::vector<std::string>& hostNames) {
    ErrorQueueMark mark;
    X509_STORE* trustStore = store();
    if (trustStore == nullptr) {
        OXL_LOG_ERROR(logger(), "Failed to load the certificate chain");
        return {CertStatus::INTERNAL_ERROR};
    }
    std::unique_ptr<X509_STORE_CTX, StoreCtxDeleter> ctx(X509_STORE_CTX_new());
    STACK_OF(X509)* untrusted = source != nullptr ? X509_STORE_CTX_get0_untrusted(source) : nullptr;
    // OpenSSL takes non-const pointers here but does not modify the certificates' content.
    if (!ctx || X509_STORE_CTX_init(ctx.get(), trustStore, const_cast<X509*>(leaf), untrusted) != 1) {
        OXL_LOG_ERROR(logger(), "Failed to load the untrusted chain into memory");
        return {CertStatus::INTERNAL_ERROR};
    }
    std::vector<VerifyError> errors;
    X509_STORE_CTX_set_app_data(ctx.get(), &errors);
    X509_STORE_CTX_set_verify_cb(ctx.get(), recordAndContinue);
    applyParameters(ctx.get());

    const int rc = X509_verify_cert(ctx.get());
    if (rc <= 0 && errors.empty()) {
        const int code = X509_STORE_CTX_get_error(ctx.get());
        if (code == X509_V_OK) {
            OXL_LOG_ERROR(logger(), "Certificate chain could not be built");
            return {CertStatus::INTERNAL_ERROR};
        }
        errors.push_back({code, X509_STORE_CTX_get_error_depth(ctx.get())});
    }

    std::set<CertStatus::Status> statuses;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    const int notForServers = chain::firstCaNotForServers(chain);
    if (notForServers >= 0) {
        OXL_LOG_INFO(logger(), "The CA at depth "
                                   << notForServers
                                   << " may not issue server certificates (extended key usage): "
                                   << CA_NOT_FOR_SERVERS_STATUS);
        statuses.insert(CA_NOT_FOR_SERVERS_STATUS);
    }
    for (const auto& host : hostNames) {
        const int depth = chain::firstNameConstraintViolation(chain, host);
        if (depth >= 0) {
            OXL_LOG_INFO(logger(),
                         "'" << host << "' lies outside the name constraints of the CA at depth " << depth);
            errors.push_back({X509_V_ERR_PERMITTED_VIOLATION, depth});
        }
    }
    for (const auto& error : errors) {
        const auto status = statusForVerifyError(error.code);
        OXL_LOG_INFO(logger(), "Certificate chain error " << error.code << " ("
                                                          << X509_verify_cert_error_string(error.code)
                                                          << ") at depth " << error.depth << ": " << status);
        statuses.insert(status);
    }
    if (statuses.empty()) {
        statuses.insert(CertStatus::VALID);
    }
    OXL_LOG_DEBUG(logger(),
                  "Certificate validation response is "
                      << (CertStatus::representsVerificationSuccess(statuses) ? "'valid'" : "'invalid'"));
    return statuses;
}

}  // namespace oxl::cert
