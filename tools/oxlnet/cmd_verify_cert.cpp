// oxlnet verify-cert CHAIN.pem --host NAME ...: verifies the first certificate of the file, with the rest as
// the chain a server would send, and prints the verification result. Every option that names a file is read
// completely: a PEM block that cannot be read is reported (one line each, exit 2), never skipped.
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/XmppCertVerifier.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/cert/utils/CertUtils.h"
#include "oxlnet/Command.h"
#include "oxlnet/Handles.h"
#include "oxlnet/PemFiles.h"

namespace {

using oxlnet::BioFree;
using oxlnet::StackFree;
using oxlnet::StoreCtxFree;
using oxlnet::StoreFree;

// Every certificate of a PEM bundle (already checked block by block), or the single certificate of a DER
// file; empty for anything else.
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

// Parses a whole decimal number in [min, max]; false for anything else.
bool parseNumber(const std::string& text, long long min, long long max, long long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

// Reads `path` and checks that each of its PEM blocks is a readable `label`; prints one line per problem.
// Returns false (after printing) when the file cannot be used.
bool checkPemFile(const std::string& path, const std::string& label, bool pemRequired, std::string& content) {
    std::string error;
    if (!oxlnet::pem::readRegularFile(path, content, error)) {
        oxlnet::usageError("verify-cert: " + error);
        return false;
    }
    std::vector<std::string> problems;
    const int good = oxlnet::pem::checkBlocks(content, label, problems);
    for (const auto& problem : problems) {
        std::cerr << "oxlnet: verify-cert: " << path << ": " << problem << std::endl;
    }
    if (!problems.empty()) {
        return false;
    }
    if (good == 0 && pemRequired) {
        oxlnet::usageError("verify-cert: '" + path + "' holds no " + label + " PEM block");
        return false;
    }
    return true;
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
    const auto crlFiles = oxlnet::takeOptions(args, "--crl");
    std::string maxDepthText;
    const bool hasMaxDepth = oxlnet::takeOption(args, "--max-depth", maxDepthText);
    std::string atText;
    const bool hasAt = oxlnet::takeOption(args, "--at", atText);

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
    long long maxDepth = -1;
    if (hasMaxDepth && !parseNumber(maxDepthText, 0, INT_MAX, maxDepth)) {
        return oxlnet::usageError("verify-cert: --max-depth needs a number from 0, not '" + maxDepthText +
                                  "'");
    }
    long long at = 0;
    if (hasAt && !parseNumber(atText, 0, LLONG_MAX, at)) {
        return oxlnet::usageError("verify-cert: --at needs seconds since 1970, not '" + atText + "'");
    }
    std::string unused;
    if (hasTrust && !checkPemFile(trustFile, "CERTIFICATE", true, unused)) {
        return 2;
    }
    for (const auto& crl : crlFiles) {
        if (!checkPemFile(crl, "X509 CRL", true, unused)) {
            return 2;
        }
    }

    const std::string& file = args[0];
    std::string content;
    if (!checkPemFile(file, "CERTIFICATE", false, content)) {
        return 2;
    }
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

    auto settings = oxl::cert::PlatformCertVerifier::getDefaultTrustSettings();
    if (hasTrust) {
        settings.trustFile = trustFile;
    }
    settings.crlFiles = crlFiles;
    if (hasMaxDepth) {
        settings.maxIntermediates = static_cast<int>(maxDepth);
    }
    if (hasAt) {
        settings.verificationTime = static_cast<std::time_t>(at);
    }
    oxl::cert::PlatformCertVerifier::setDefaultTrustSettings(settings);
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
               "[--crl FILE ...] [--max-depth N] [--at UNIX_SECONDS] "
               "[--policy silently-fail|silently-succeed|ignore-revocation]",
               "verify the first certificate of CHAIN.pem (the rest is its chain); exit 0 when valid",
               runVerifyCert);
