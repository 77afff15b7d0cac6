#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <utility>
#include <vector>

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
    store_ = std::move(store);
    return store_.get();
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyCertificate(const X509_STORE_CTX* ctx) {
    if (ctx == nullptr || X509_STORE_CTX_get0_cert(ctx) == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(X509_STORE_CTX_get0_cert(ctx), ctx);
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verifyCertificate(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_ERROR(logger(), "Certificate is NULL");
        return {CertStatus::INTERNAL_ERROR};
    }
    return verify(cert, nullptr);
}

std::set<CertStatus::Status> OpenSslPlatformCertVerifier::verify(const X509* leaf,
                                                                 const X509_STORE_CTX* source) {
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

CertStatus::Status OpenSslPlatformCertVerifier::statusForVerifyError(int code) {
    switch (code) {
        case X509_V_OK:
            return CertStatus::VALID;

        case X509_V_ERR_CERT_HAS_EXPIRED:
            return CertStatus::EXPIRED;
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return CertStatus::NO_TIME_VALID;

        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_DANE_NO_MATCH:
            return CertStatus::UNTRUSTED_ROOT;

        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CertStatus::IS_PARTIAL_CHAIN;

        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        case X509_V_ERR_NO_ISSUER_PUBLIC_KEY:
        case X509_V_ERR_CA_MD_TOO_WEAK:
        case X509_V_ERR_UNSUPPORTED_SIGNATURE_ALGORITHM:
        case X509_V_ERR_SIGNATURE_ALGORITHM_MISMATCH:
        case X509_V_ERR_SIGNATURE_ALGORITHM_INCONSISTENCY:
        case X509_V_ERR_SUITE_B_INVALID_VERSION:
        case X509_V_ERR_SUITE_B_INVALID_ALGORITHM:
        case X509_V_ERR_SUITE_B_INVALID_CURVE:
        case X509_V_ERR_SUITE_B_INVALID_SIGNATURE_ALGORITHM:
        case X509_V_ERR_SUITE_B_LOS_NOT_ALLOWED:
        case X509_V_ERR_SUITE_B_CANNOT_SIGN_P_384_WITH_P_256:
            return CertStatus::INVALID_SIGNATURE;

        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_INVALID_NON_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_PROXY_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_PATHLEN_INVALID_FOR_NON_CA:
        case X509_V_ERR_PATHLEN_WITHOUT_KU_KEY_CERT_SIGN:
        case X509_V_ERR_KU_KEY_CERT_SIGN_INVALID_FOR_NON_CA:
        case X509_V_ERR_CA_BCONS_NOT_CRITICAL:
        case X509_V_ERR_CA_CERT_MISSING_KEY_USAGE:
            return CertStatus::BASIC_CONSTRAINTS;

        case X509_V_ERR_CERT_CHAIN_TOO_LONG:
        case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
        case X509_V_ERR_AKID_SKID_MISMATCH:
        case X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
            return CertStatus::INVALID_CHAIN;

        case X509_V_ERR_PATH_LOOP:
            return CertStatus::CERT_TRUST_CYCLIC;

        case X509_V_ERR_CERT_REVOKED:
            return CertStatus::INVALID_REVOKED;

        case X509_V_ERR_UNABLE_TO_GET_CRL:
        case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        case X509_V_ERR_CRL_SIGNATURE_FAILURE:
        case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
        case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
        case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
        case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
        case X509_V_ERR_DIFFERENT_CRL_SCOPE:
        case X509_V_ERR_CRL_PATH_VALIDATION_ERROR:
        case X509_V_ERR_OCSP_VERIFY_NEEDED:
        case X509_V_ERR_OCSP_VERIFY_FAILED:
        case X509_V_ERR_OCSP_CERT_UNKNOWN:
            return CertStatus::REVOCATION_STATUS_UNKNOWN;
        case X509_V_ERR_CRL_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
            return CertStatus::REVOCATION_OFFLINE;

        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE:
            return CertStatus::WRONG_USAGE;

        case X509_V_ERR_CERT_REJECTED:
            return CertStatus::EXPLICIT_DISTRUST;

        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return CertStatus::NOT_SUPPORTED_CRITICAL_EXT;

        case X509_V_ERR_INVALID_EXTENSION:
        case X509_V_ERR_UNSUPPORTED_EXTENSION_FEATURE:
        case X509_V_ERR_UNNESTED_RESOURCE:
        case X509_V_ERR_PROXY_CERTIFICATES_NOT_ALLOWED:
        case X509_V_ERR_MISSING_AUTHORITY_KEY_IDENTIFIER:
        case X509_V_ERR_MISSING_SUBJECT_KEY_IDENTIFIER:
        case X509_V_ERR_AUTHORITY_KEY_IDENTIFIER_CRITICAL:
        case X509_V_ERR_SUBJECT_KEY_IDENTIFIER_CRITICAL:
        case X509_V_ERR_EXTENSIONS_REQUIRE_VERSION_3:
        case X509_V_ERR_EMPTY_SUBJECT_ALT_NAME:
        case X509_V_ERR_EMPTY_SUBJECT_SAN_NOT_CRITICAL:
        case X509_V_ERR_EC_KEY_EXPLICIT_PARAMS:
            return CertStatus::INVALID_EXTENSION;

        case X509_V_ERR_INVALID_POLICY_EXTENSION:
            return CertStatus::INVALID_POLICY;
        case X509_V_ERR_NO_EXPLICIT_POLICY:
            return CertStatus::POLICY_NO_ISSUANCE;

        case X509_V_ERR_PERMITTED_VIOLATION:
        case X509_V_ERR_EXCLUDED_VIOLATION:
        case X509_V_ERR_SUBTREE_MINMAX:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
        case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
            return CertStatus::INVALID_NAME_CONSTRAINT;

        case X509_V_ERR_ISSUER_NAME_EMPTY:
        case X509_V_ERR_SUBJECT_NAME_EMPTY:
        case X509_V_ERR_EMAIL_MISMATCH:
        case X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION:
            return CertStatus::INVALID_NAME;

        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return CertStatus::CN_NO_MATCH;

        case X509_V_ERR_EE_KEY_TOO_SMALL:
        case X509_V_ERR_CA_KEY_TOO_SMALL:
            return CertStatus::WEAK_KEY;

        case X509_V_ERR_OUT_OF_MEM:
        case X509_V_ERR_INVALID_CALL:
        case X509_V_ERR_STORE_LOOKUP:
            return CertStatus::INTERNAL_ERROR;

        default:
            return CertStatus::UNKNOWN;
    }
}

}  // namespace oxl::cert
