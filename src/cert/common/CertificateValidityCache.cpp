#include "oxl/cert/common/CertificateValidityCache.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>

#include "common/TextUtils.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using Reasons = std::set<CertStatus::Status>;

// The three containers, each with its own lock.
struct Caches {
    std::mutex acceptedValidMutex;
    std::set<std::string> acceptedValid;
    std::mutex acceptedInvalidMutex;
    std::map<std::string, Reasons> acceptedInvalid;
    std::mutex rejectedInvalidMutex;
    std::map<std::string, Reasons> rejectedInvalid;
};

Caches& caches() {
    static Caches c;
    return c;
}

// Chosen once: every key of the caches is made with the same digest.
const EVP_MD* fingerprintDigest() {
    static const EVP_MD* md = EVP_sha256();
    return md;
}

void addReasons(std::mutex& mutex, std::map<std::string, Reasons>& map, const std::string& fingerprint,
                const Reasons& reasons) {
    if (fingerprint.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    map[fingerprint].insert(reasons.begin(), reasons.end());
}

Reasons getReasons(std::mutex& mutex, const std::map<std::string, Reasons>& map,
                   const std::string& fingerprint) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = map.find(fingerprint);
    return it == map.end() ? Reasons{} : it->second;
}

void removeEntry(std::mutex& mutex, std::map<std::string, Reasons>& map, const std::string& fingerprint) {
    std::lock_guard<std::mutex> lock(mutex);
    map.erase(fingerprint);
}

}  // namespace

std::string CertificateValidityCache::generateFingerprint(const X509* cert) {
    return generateFingerprint(cert, fingerprintDigest());
}

std::string CertificateValidityCache::generateFingerprint(const X509* cert, const EVP_MD* digest) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (cert == nullptr || digest == nullptr || X509_digest(cert, digest, md, &length) != 1) {
        OXL_LOG_ERROR(logger(), "Could not generate fingerprint.");
        return {};
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 3);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(hex[md[i] >> 4]);
        text.push_back(hex[md[i] & 0x0F]);
        text.push_back(' ');
    }
    return text;
}

void CertificateValidityCache::addAcceptedValidCertificate(const X509* cert) {
    addAcceptedValidCertificate(generateFingerprint(cert));
}

void CertificateValidityCache::addAcceptedValidCertificate(const std::string& fingerprint) {
    if (fingerprint.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(caches().acceptedValidMutex);
    caches().acceptedValid.insert(fingerprint);
}

void CertificateValidityCache::addAcceptedInvalidCertificate(const X509* cert, CertStatus::Status status) {
    addAcceptedInvalidCertificate(generateFingerprint(cert), Reasons{status});
}

void CertificateValidityCache::addAcceptedInvalidCertificate(const std::string& fingerprint,
                                                             const std::set<CertStatus::Status>& statuses) {
    if (statuses.count(CertStatus::INVALID_REVOKED) != 0) {
        OXL_LOG_WARN(logger(), "A revoked certificate is never remembered as accepted, fingerprint ["
                                   << fingerprint << "]");
        return;
    }
    addReasons(caches().acceptedInvalidMutex, caches().acceptedInvalid, fingerprint, statuses);
}

std::string CertificateValidityCache::hostScopedKey(const std::string& fingerprint, const std::string& host) {
    if (fingerprint.empty()) {
        return {};
    }
    std::string lower = oxl::common::text::toLower(host);
    if (lower.size() > 1 && lower.back() == '.') {
        lower.pop_back();
    }
    return fingerprint + "for " + lower;
}

void CertificateValidityCache::addRejectedInvalidCertificate(const X509* cert, CertStatus::Status status) {
    addRejectedInvalidCertificate(generateFingerprint(cert), Reasons{status});
}

void CertificateValidityCache::addRejectedInvalidCertificate(const std::string& fingerprint,
                                                             const std::set<CertStatus::Status>& statuses) {
    addReasons(caches().rejectedInvalidMutex, caches().rejectedInvalid, fingerprint, statuses);
}

std::set<CertStatus::Status> CertificateValidityCache::getAcceptedInvalidCacheValue(const X509* cert) {
    return getAcceptedInvalidCacheValue(generateFingerprint(cert));
}

std::set<CertStatus::Status> CertificateValidityCache::getAcceptedInvalidCacheValue(
    const std::string& fingerprint) {
    return getReasons(caches().acceptedInvalidMutex, caches().acceptedInvalid, fingerprint);
}

std::set<CertStatus::Status> CertificateValidityCache::getRejectedInvalidCacheValue(const X509* cert) {
    return getRejectedInvalidCacheValue(generateFingerprint(cert));
}

std::set<CertStatus::Status> CertificateValidityCache::getRejectedInvalidCacheValue(
    const std::string& fingerprint) {
    return getReasons(caches().rejectedInvalidMutex, caches().rejectedInvalid, fingerprint);
}

std::set<std::string> CertificateValidityCache::getAcceptedValidFingerprints() {
    std::lock_guard<std::mutex> lock(caches().acceptedValidMutex);
    return caches().acceptedValid;
}

bool CertificateValidityCache::findInAcceptedValidCache(const std::string& fingerprint) {
    std::lock_guard<std::mutex> lock(caches().acceptedValidMutex);
    return caches().acceptedValid.count(fingerprint) != 0;
}

bool CertificateValidityCache::findInAcceptedValidCache(const X509* cert) {
    const std::string fingerprint = generateFingerprint(cert);
    return !fingerprint.empty() && findInAcceptedValidCache(fingerprint);
}

void CertificateValidityCache::removeFromAcceptedInvalidCache(const X509* cert) {
    removeFromAcceptedInvalidCache(generateFingerprint(cert));
}

void CertificateValidityCache::removeFromAcceptedInvalidCache(const std::string& fingerprint) {
    removeEntry(caches().acceptedInvalidMutex, caches().acceptedInvalid, fingerprint);
}

void CertificateValidityCache::removeFromRejectedInvalidCache(const X509* cert) {
    removeFromRejectedInvalidCache(generateFingerprint(cert));
}

void CertificateValidityCache::removeFromRejectedInvalidCache(const std::string& fingerprint) {
    removeEntry(caches().rejectedInvalidMutex, caches().rejectedInvalid, fingerprint);
}

bool CertificateValidityCache::verifyAcceptedCertificate(const X509* cert) {
    const std::string fingerprint = generateFingerprint(cert);
    if (fingerprint.empty()) {
        OXL_LOG_INFO(logger(), "Fingerprint was empty!");
        return false;
    }
    if (findInAcceptedValidCache(fingerprint)) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(caches().acceptedInvalidMutex);
        if (caches().acceptedInvalid.count(fingerprint) != 0) {
            return true;
        }
    }
    OXL_LOG_INFO(logger(), "Fingerprint is not trusted!");
    return false;
}

void CertificateValidityCache::clear() {
    OXL_LOG_INFO(logger(), "Clearing accepted and rejected certificates from memory");
    {
        std::lock_guard<std::mutex> lock(caches().acceptedValidMutex);
        caches().acceptedValid.clear();
    }
    {
        std::lock_guard<std::mutex> lock(caches().acceptedInvalidMutex);
        caches().acceptedInvalid.clear();
    }
    std::lock_guard<std::mutex> lock(caches().rejectedInvalidMutex);
    caches().rejectedInvalid.clear();
}

}  // namespace oxl::cert
