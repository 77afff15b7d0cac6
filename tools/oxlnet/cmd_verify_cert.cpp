// oxlnet verify-cert CHAIN.pem --host NAME ...: verifies the first certificate of the file, with the rest as
// the chain a server would send, and prints the verification result.
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/XmppCertVerifier.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/cert/utils/CertUtils.h"
#include "oxlnet/Command.h"

namespace {

struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct StoreCtxFree {
    void operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

// Every certificate of a PEM bundle, or the single certificate of a DER file; empty for anything else.
std::unique_ptr<STACK_OF(X509), StackFree> readCertificates(const std::string& content) {
    std::unique_ptr<STACK_OF(X509), StackFree> certs(sk_X509_new_null());
    if (!certs) {
        return certs;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    while (bio) {
        X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (cert == nullptr) {
            break;
        }
        if (sk_X509_push(certs.get(), cert) <= 0) {
            X509_free(cert);
            break;
        }
    }
    if (sk_X509_num(certs.get()) == 0 && !content.empty()) {
        X509* der = oxl::cert::CertUtils::loadCertificate(
            reinterpret_cast<const unsigned char*>(content.data()), static_cast<int>(content.size()),
            oxl::cert::CertEncoding::DER);
        if (der != nullptr && sk_X509_push(certs.get(), der) <= 0) {
            X509_free(der);
        }
    }
    return certs;
}

int runVerifyCert(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    const auto hosts = oxlnet::takeOptions(args, "--host");
    std::string mandatory;
    const bool hasMandatory = oxlnet::takeOption(args, "--mandatory", mandatory);
    const bool xmpp = oxlnet::takeFlag(args, "--xmpp");
    std::string trustFile;
    const bool hasTrust = oxlnet::takeOption(args, "--trust", trustFile);
    std::string policy;
    const bool hasPolicy = oxlnet::takeOption(args, "--policy", policy);

    if (args.size() != 1 || args[0].rfind("--", 0) == 0) {
        return oxlnet::usageError(args.empty() ? "verify-cert: needs one certificate file"
                                               : "verify-cert: unexpected argument '" + args.back() + "'");
    }
    if (hosts.empty()) {
        return oxlnet::usageError("verify-cert: needs at least one --host NAME");
    }
    if (xmpp && hasMandatory) {
        return oxlnet::usageError("verify-cert: --mandatory does not apply to --xmpp");
    }
    if (hasPolicy && policy != "silently-fail" && policy != "silently-succeed" &&
        policy != "ignore-revocation") {
        return oxlnet::usageError("verify-cert: unknown --policy '" + policy + "'");
    }
    if (hasTrust && access(trustFile.c_str(), R_OK) != 0) {
        return oxlnet::usageError("verify-cert: cannot read trust file '" + trustFile + "'");
    }

    const std::string& file = args[0];
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return oxlnet::usageError("verify-cert: cannot read '" + file + "'");
    }
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto certs = readCertificates(content);
    if (!certs || sk_X509_num(certs.get()) == 0) {
        return oxlnet::usageError("verify-cert: '" + file + "' holds no certificate");
    }

    // The chain as a TLS handshake hands it over: the leaf under verification, every certificate untrusted.
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
    if (!store || !ctx ||
        X509_STORE_CTX_init(ctx.get(), store.get(), sk_X509_value(certs.get(), 0), certs.get()) != 1) {
        std::cerr << "oxlnet: verify-cert: could not set up the verification context" << std::endl;
        return 2;
    }

    if (hasTrust) {
        oxl::cert::PlatformCertVerifier::setTrustFile(trustFile);
    }
    std::shared_ptr<oxl::cert::BaseCertVerifier> verifier;
    std::shared_ptr<oxl::cert::CertVerifier> https;
    std::shared_ptr<oxl::cert::XmppCertVerifier> xmppVerifier;
    if (xmpp) {
        verifier = xmppVerifier = oxl::cert::CertVerifierFactory::createXmppCertVerifier();
    } else {
        verifier = https = oxl::cert::CertVerifierFactory::createCertVerifier();
    }
    if (policy == "silently-fail") {
        verifier->addPolicy(oxl::cert::InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY);
    } else if (policy == "silently-succeed") {
        verifier->addPolicy(oxl::cert::InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY);
    } else if (policy == "ignore-revocation") {
        verifier->addPolicy(
            oxl::cert::IgnoreInvalidCertConditionPolicy::IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS_POLICY);
    }

    oxl::cert::CertResult result;
    if (xmpp) {
        result = xmppVerifier->verifyXmppCertificate(ctx.get(), hosts);
    } else if (hasMandatory) {
        result = https->verifyCertificate(ctx.get(), mandatory, hosts);
    } else {
        result = https->verifyCertificate(ctx.get(), hosts);
    }
    std::cout << result << std::endl;
    return result.result == oxl::cert::CertResult::SUCCESS ? 0 : 1;
}

}  // namespace

OXLNET_COMMAND("verify-cert",
               "CHAIN.pem --host NAME [--host NAME2 ...] [--mandatory NAME] [--xmpp] [--trust FILE] "
               "[--policy silently-fail|silently-succeed|ignore-revocation]",
               "verify the first certificate of CHAIN.pem (the rest is its chain); exit 0 when valid",
               runVerifyCert);
