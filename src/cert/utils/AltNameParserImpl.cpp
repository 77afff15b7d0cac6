#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "oxl/cert/utils/AltNameParser.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.utils");
    return l;
}

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

struct Utf8Deleter {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

// UTF-8 text of an ASN.1 string; false when it cannot be converted or hides a zero byte (a name such as
// "good.example\0.evil" must not be taken for its prefix).
bool asn1ToUtf8(const ASN1_STRING* in, std::string& out) {
    unsigned char* raw = nullptr;
    const int length = ASN1_STRING_to_UTF8(&raw, in);
    std::unique_ptr<unsigned char, Utf8Deleter> owned(raw);
    if (length < 0 || raw == nullptr) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(raw), static_cast<size_t>(length));
    return out.find('\0') == std::string::npos;
}

std::string readCommonName(const X509* cert) {
    const X509_NAME* subject = X509_get_subject_name(cert);
    if (subject == nullptr) {
        OXL_LOG_WARN(logger(), "subject is NULL");
        return {};
    }
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    std::string name;
    if (index >= 0) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(subject, index);
        const ASN1_STRING* data = entry != nullptr ? X509_NAME_ENTRY_get_data(entry) : nullptr;
        if (data != nullptr && !asn1ToUtf8(data, name)) {
            OXL_LOG_WARN(logger(), "Subject CN field could not be read as text");
            name.clear();
        }
    }
    if (name.empty()) {
        OXL_LOG_INFO(logger(), "Size of Subject CN field is zero so not setting commonName");
        return {};
    }
    OXL_LOG_DEBUG(logger(), "Subject CN field: '" << name << "'");
    return name;
}

// The raw octets of an otherName value up to the first zero byte.
std::string otherNameText(const ASN1_TYPE* value) {
    if (value == nullptr) {
        return {};
    }
    switch (value->type) {
        case V_ASN1_BOOLEAN:
        case V_ASN1_NULL:
        case V_ASN1_OBJECT:
            return {};
        default:
            break;
    }
    const ASN1_STRING* s = value->value.asn1_string;
    if (s == nullptr || ASN1_STRING_length(s) <= 0) {
        return {};
    }
    const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(s));
    const auto length = static_cast<size_t>(ASN1_STRING_length(s));
    return std::string(data, std::find(data, data + length, '\0'));
}

std::string oidText(const ASN1_OBJECT* oid) {
    char buffer[128];
    const int length = OBJ_obj2txt(buffer, sizeof(buffer), oid, 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, std::min(static_cast<size_t>(length), sizeof(buffer) - 1));
}

struct GeneralNamesDeleter {
    void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};

}  // namespace

AltNameParserImpl::AltNameParserImpl(std::vector<std::string> dnsNames, std::vector<std::string> srvNames,
                                     std::vector<std::string> xmppAddresses, std::string commonName)
    : dnsNames_(std::move(dnsNames)),
      srvNames_(std::move(srvNames)),
      xmppAddresses_(std::move(xmppAddresses)),
      commonName_(std::move(commonName)) {}

CertIdentifierStatus::Status AltNameParserImpl::parse(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_ERROR(logger(), "invalid argument, cert is NULL");
        return CertIdentifierStatus::INTERNAL_ERROR;
    }
    dnsNames_.clear();
    srvNames_.clear();
    xmppAddresses_.clear();
    commonName_ = readCommonName(cert);

    const int extIndex = X509_get_ext_by_NID(cert, NID_subject_alt_name, -1);
    if (extIndex < 0) {
        OXL_LOG_WARN(logger(), "SubjectAltName extension not found");
        return identityAvailability();
    }
    X509_EXTENSION* ext = X509_get_ext(cert, extIndex);
    if (ext == nullptr) {
        OXL_LOG_ERROR(logger(), "failed to get extension using API");
        return identityAvailability();
    }
    if (X509V3_EXT_get(ext) == nullptr) {
        OXL_LOG_ERROR(logger(), "failed to get extension methods using API");
        return identityAvailability();
    }
    std::unique_ptr<GENERAL_NAMES, GeneralNamesDeleter> names(
        static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(ext)));
    if (!names) {
        OXL_LOG_ERROR(logger(), "failed to get GENERAL_NAMES structure");
        return identityAvailability();
    }

    const int count = sk_GENERAL_NAME_num(names.get());
    OXL_LOG_INFO(logger(), "number of Subject Alt Name fields : " << count);
    for (int i = 0; i < count; ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name == nullptr) {
            OXL_LOG_WARN(logger(), "failed to read GENERAL_NAME from field index : " << i);
            continue;
        }
        if (name->type == GEN_DNS) {
            std::string text;
            if (asn1ToUtf8(name->d.dNSName, text)) {
                dnsNames_.push_back(std::move(text));
            } else {
                OXL_LOG_WARN(logger(), "failed to read GENERAL_NAME from field index : " << i);
            }
        } else if (name->type == GEN_OTHERNAME && name->d.otherName != nullptr) {
            const std::string oid = oidText(name->d.otherName->type_id);
            std::string text = otherNameText(name->d.otherName->value);
            if (oid == SRV_NAME_OID) {
                srvNames_.push_back(std::move(text));
            } else if (oid == XMPP_ADDR_OID) {
                xmppAddresses_.push_back(std::move(text));
            } else {
                OXL_LOG_DEBUG(logger(), "ignoring OID : " << oid << " value : " << text);
            }
        } else {
            OXL_LOG_DEBUG(logger(), "ignoring field with type : " << name->type);
        }
    }
    return identityAvailability();
}

CertIdentifierStatus::Status AltNameParserImpl::identityAvailability() const {
    if (!xmppAddresses_.empty() || !srvNames_.empty() || !dnsNames_.empty() || !commonName_.empty()) {
        return CertIdentifierStatus::SUCCESS;
    }
    OXL_LOG_INFO(logger(), "No Identity information available");
    return CertIdentifierStatus::NO_IDENTITY_INFO_IN_CERT;
}

CertIdentifierStatus::Status AltNameParserImpl::verify(const std::string& host) {
    if (!host.empty()) {
        for (size_t i = 0; i < dnsNames_.size(); ++i) {
            if (iequals(dnsNames_[i], host)) {
                OXL_LOG_DEBUG(logger(), "Match for '" << host << "' found in dnsNames index: " << i);
                return CertIdentifierStatus::SUCCESS;
            }
            if (wildcardMatch(host, dnsNames_[i])) {
                OXL_LOG_DEBUG(logger(), "Wildcard match for '" << host << "' found in dnsNames index: " << i);
                return CertIdentifierStatus::SUCCESS;
            }
        }
        if (!commonName_.empty()) {
            if (iequals(commonName_, host)) {
                OXL_LOG_DEBUG(logger(), "Match for '" << host << "' found in commonName");
                return CertIdentifierStatus::SUCCESS;
            }
            if (wildcardMatch(host, commonName_)) {
                OXL_LOG_DEBUG(logger(), "Wildcard match for '" << host << "' found in commonName");
                return CertIdentifierStatus::SUCCESS;
            }
        }
    }
    OXL_LOG_ERROR(logger(), "No Match Found for '" << host << "'");
    return CertIdentifierStatus::NO_MATCH_FOUND;
}

CertIdentifierStatus::Status AltNameParserImpl::verifyXmpp(const std::string& domain) {
    if (!domain.empty()) {
        for (size_t i = 0; i < xmppAddresses_.size(); ++i) {
            if (iequals(xmppAddresses_[i], domain)) {
                OXL_LOG_DEBUG(logger(), "Match for '" << domain << "' found in _xmppAddresses index: " << i);
                return CertIdentifierStatus::SUCCESS;
            }
        }
        const std::string srvName = "_xmpp-server." + domain;
        for (size_t i = 0; i < srvNames_.size(); ++i) {
            if (iequals(srvNames_[i], srvName)) {
                OXL_LOG_DEBUG(logger(), "Match for '" << domain << "' found in _srvNames index: " << i);
                return CertIdentifierStatus::SUCCESS;
            }
        }
    }
    OXL_LOG_DEBUG(logger(), "Xmpp match was not found for: '" << domain << "'");
    return verify(domain);
}

std::string AltNameParserImpl::parentDomain(const std::string& name) {
    const auto dot = name.find('.');
    if (dot == std::string::npos || dot + 1 == name.size()) {
        OXL_LOG_WARN(logger(), "Did not find parent domain for domain '" << name << "'");
        return {};
    }
    return name.substr(dot + 1);
}

bool AltNameParserImpl::looksLikeIpAddress(const std::string& text) {
    if (text.empty() || text.find(':') != std::string::npos) {
        return true;
    }
    size_t groupLength = 0;
    for (char c : text) {
        if (c == '.') {
            if (groupLength < 1 || groupLength > 3) {
                return false;
            }
            groupLength = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            ++groupLength;
        } else {
            return false;
        }
    }
    // The trailing group may have any length.
    return true;
}

bool AltNameParserImpl::wildcardMatch(const std::string& host, const std::string& pattern) {
    if (pattern.size() < 2 || pattern[0] != '*' || pattern[1] != '.') {
        return false;
    }
    if (looksLikeIpAddress(pattern.substr(2))) {
        return false;
    }
    const std::string patternParent = parentDomain(pattern);
    const std::string hostParent = parentDomain(host);
    return !patternParent.empty() && !hostParent.empty() && iequals(patternParent, hostParent);
}

std::vector<std::string> AltNameParserImpl::getDnsNames() const {
    return dnsNames_;
}
std::vector<std::string> AltNameParserImpl::getSrvNames() const {
    return srvNames_;
}
std::vector<std::string> AltNameParserImpl::getXmppAddresses() const {
    return xmppAddresses_;
}
std::string AltNameParserImpl::getCommonName() const {
    return commonName_;
}

std::shared_ptr<AltNameParser> AltNameParserFactory::buildAltNameParser() {
    return std::make_shared<AltNameParserImpl>();
}

}  // namespace oxl::cert
