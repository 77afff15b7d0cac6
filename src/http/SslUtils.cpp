#include "oxl/http/SslUtils.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <exception>

#include "oxl/http/HttpRequestData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.SslUtils");
    return l;
}

bool askVerifier(X509_STORE_CTX* storeCtx, CertIdentity& identity) {
    CertVerifier& verifier = *identity.certVerifier;
    const bool withDisplay = !identity.identifierToDisplay.empty();
    if (identity.identityMatchModel == IdentityMatchModel::SOFT_MATCH) {
        if (identity.referenceIdentifiers.empty() && !identity.serverFqdn.empty()) {
            identity.referenceIdentifiers.push_back(identity.serverFqdn);
        }
        return withDisplay ? verifier.verifyCertificate(storeCtx, identity.referenceIdentifiers,
                                                        identity.identifierToDisplay)
                           : verifier.verifyCertificate(storeCtx, identity.referenceIdentifiers);
    }
    return withDisplay
               ? verifier.verifyCertificate(storeCtx, identity.serverFqdn, identity.referenceIdentifiers,
                                            identity.identifierToDisplay)
               : verifier.verifyCertificate(storeCtx, identity.serverFqdn, identity.referenceIdentifiers);
}
}  // namespace

int SslUtils::verifyCb(X509_STORE_CTX* storeCtx, void* identityBlock) {
    if (identityBlock == nullptr) {
        OXL_LOG_ERROR(
            logger(),
            "The private data passed to the verify callback from SSL is NULL, unable to operate on it.");
        return 0;
    }
    auto& identity = *static_cast<CertIdentity*>(identityBlock);
    if (!identity.certVerifier) {
        OXL_LOG_ERROR(logger(), "No Certificate Verifier set, rejecting the certificate");
        if (storeCtx != nullptr) {
            X509_STORE_CTX_set_error(storeCtx, X509_V_ERR_APPLICATION_VERIFICATION);
        }
        return 0;
    }
    const int model = identity.identityMatchModel;
    if (model != IdentityMatchModel::SOFT_MATCH && model != IdentityMatchModel::STRICT_MATCH) {
        OXL_LOG_ERROR(logger(), "Unrecognized IdentityMatchModel value:" << model);
        return 0;
    }
    bool accepted = false;
    // OpenSSL calls this from C: nothing may escape.
    try {
        accepted = askVerifier(storeCtx, identity);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Certificate verifier failed: " << e.what());
        accepted = false;
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Certificate verifier failed with an unknown exception");
        accepted = false;
    }
    const char* modelName = IdentityMatchModel::toString(model);
    if (accepted) {
        OXL_LOG_INFO(logger(), "Certificate Verified by application using " << modelName
                                                                            << " identity matching model.");
        // The verifier's own chain checks may have left an error on the context; the decision is final.
        X509_STORE_CTX_set_error(storeCtx, X509_V_OK);
        return 1;
    }
    OXL_LOG_INFO(logger(), "Certificate NOT Verified by application using " << modelName
                                                                            << " identity matching model.");
    if (X509_STORE_CTX_get_error(storeCtx) == X509_V_OK) {
        X509_STORE_CTX_set_error(storeCtx, X509_V_ERR_APPLICATION_VERIFICATION);
    }
    return 0;
}

}  // namespace oxl::http
