#include <arpa/inet.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "cert/utils/PublicSuffix.h"
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

// The text of an otherName value that must have the ASN.1 type `expectedType`; false for any other type, for
// text hiding a zero byte, and (IA5String) for bytes outside 7-bit ASCII.
bool otherNameText(const ASN1_TYPE* value, int expectedType, std::string& out) {
    if (value == nullptr || value->type != expectedType || value->value.asn1_string == nullptr) {
        return false;
    }
    const ASN1_STRING* s = value->value.asn1_string;
    if (expectedType == V_ASN1_UTF8STRING) {
        return asn1ToUtf8(s, out);
    }
    const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(s));
    out.assign(data, static_cast<size_t>(ASN1_STRING_length(s)));
    return std::all_of(out.begin(), out.end(),
                       [](char c) { return c != '\0' && static_cast<unsigned char>(c) < 0x80; });
}

// A dNSName is an IA5String of printable ASCII; anything else (a zero byte, raw UTF-8) is not a name.
bool dnsNameText(const ASN1_IA5STRING* value, std::string& out) {
    if (value == nullptr) {
        return false;
    }
    const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(value));
    out.assign(data, static_cast<size_t>(ASN1_STRING_length(value)));
    return std::all_of(out.begin(), out.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f;
    });
}

// The bytes of an IP literal ("192.0.2.1", "2001:db8::1", "[2001:db8::1]"), empty when it is none. IPv4
// takes every form a resolver or URL parser takes for an address ("192.0.2" is 192.0.0.2, "0x7f.1" is
// 127.0.0.1), so such a host can never be matched as a DNS name.
std::string ipLiteralBytes(const std::string& text) {
    std::string literal = text;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']') {
        literal = literal.substr(1, literal.size() - 2);
    }
    unsigned char buffer[16];
    in_addr v4{};
    if (literal.find(':') == std::string::npos && inet_aton(literal.c_str(), &v4) != 0) {
        return std::string(reinterpret_cast<const char*>(&v4.s_addr), 4);
    }
    if (literal.find(':') != std::string::npos && inet_pton(AF_INET6, literal.c_str(), buffer) == 1) {
        return std::string(reinterpret_cast<const char*>(buffer), 16);
    }
    return {};
}

std::string ipText(const std::string& bytes) {
    char buffer[INET6_ADDRSTRLEN] = {};
    const int family = bytes.size() == 4 ? AF_INET : AF_INET6;
    return inet_ntop(family, bytes.data(), buffer, sizeof(buffer)) != nullptr ? std::string(buffer)
                                                                              : std::string();
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
                                     std::vector<std::string> xmppAddresses, std::string commonName,
                                     const std::vector<std::string>& ipAddresses)
    : dnsNames_(std::move(dnsNames)),
      srvNames_(std::move(srvNames)),
      xmppAddresses_(std::move(xmppAddresses)),
      commonName_(std::move(commonName)) {
    for (const auto& ip : ipAddresses) {
        std::string bytes = ipLiteralBytes(ip);
        if (!bytes.empty()) {
            ipAddresses_.push_back(std::move(bytes));
        }
    }
}

CertIdentifierStatus::Status AltNameParserImpl::parse(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_ERROR(logger(), "invalid argument, cert is NULL");
        return CertIdentifierStatus::INTERNAL_ERROR;
    }
    dnsNames_.clear();
    ipAddresses_.clear();
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
            if (dnsNameText(name->d.dNSName, text)) {
                dnsNames_.push_back(std::move(text));
            } else {
                OXL_LOG_WARN(logger(),
                             "ignoring a dNSName that is not printable ASCII at field index : " << i);
            }
        } else if (name->type == GEN_IPADD && name->d.iPAddress != nullptr) {
            const int length = ASN1_STRING_length(name->d.iPAddress);
            if (length == 4 || length == 16) {
                ipAddresses_.emplace_back(
                    reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.iPAddress)),
                    static_cast<size_t>(length));
            } else {
                OXL_LOG_WARN(logger(),
                             "ignoring an iPAddress of " << length << " bytes at field index : " << i);
            }
        } else if (name->type == GEN_OTHERNAME && name->d.otherName != nullptr) {
            const std::string oid = oidText(name->d.otherName->type_id);
            const ASN1_TYPE* value = name->d.otherName->value;
            std::string text;
            if (oid == SRV_NAME_OID || oid == XMPP_ADDR_OID) {
                // RFC 4985 makes SRVName an IA5String, RFC 6120 makes XmppAddr a UTF8String.
                const bool srv = oid == SRV_NAME_OID;
                if (!otherNameText(value, srv ? V_ASN1_IA5STRING : V_ASN1_UTF8STRING, text)) {
                    OXL_LOG_WARN(logger(), "ignoring OID : " << oid
                                                             << " whose value has the wrong type or hides a "
                                                             << "zero byte");
                } else {
                    (srv ? srvNames_ : xmppAddresses_).push_back(std::move(text));
                }
            } else {
                OXL_LOG_DEBUG(logger(),
                              "ignoring OID : " << oid << " value : "
                                                << (otherNameText(value, V_ASN1_UTF8STRING, text) ||
                                                            otherNameText(value, V_ASN1_IA5STRING, text)
                                                        ? text
                                                        : std::string("(not text)")));
            }
        } else {
            OXL_LOG_DEBUG(logger(), "ignoring field with type : " << name->type);
        }
    }
    return identityAvailability();
}

CertIdentifierStatus::Status AltNameParserImpl::identityAvailability() const {
    if (!xmppAddresses_.empty() || !srvNames_.empty() || !dnsNames_.empty() || !ipAddresses_.empty() ||
        !commonName_.empty()) {
        return CertIdentifierStatus::SUCCESS;
    }
    OXL_LOG_INFO(logger(), "No Identity information available");
    return CertIdentifierStatus::NO_IDENTITY_INFO_IN_CERT;
}

CertIdentifierStatus::Status AltNameParserImpl::verify(const std::string& host) {
    if (host.empty()) {
        OXL_LOG_ERROR(logger(), "No Match Found for '" << host << "'");
        return CertIdentifierStatus::NO_MATCH_FOUND;
    }
    const std::string ipBytes = ipLiteralBytes(host);
    return ipBytes.empty() ? verifyDnsName(host) : verifyIpAddress(host, ipBytes);
}

CertIdentifierStatus::Status AltNameParserImpl::verifyIpAddress(const std::string& host,
                                                                const std::string& bytes) const {
    for (size_t i = 0; i < ipAddresses_.size(); ++i) {
        if (ipAddresses_[i] == bytes) {
            OXL_LOG_DEBUG(logger(), "Match for '" << host << "' found in ipAddresses index: " << i);
            return CertIdentifierStatus::SUCCESS;
        }
    }
    OXL_LOG_ERROR(logger(), "No Match Found for '" << host << "'");
    return CertIdentifierStatus::NO_MATCH_FOUND;
}

CertIdentifierStatus::Status AltNameParserImpl::verifyDnsName(const std::string& reference) const {
    // "host.example.com." names the same host as "host.example.com".
    std::string host = reference;
    if (host.size() > 1 && host.back() == '.') {
        host.pop_back();
    }
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
    // RFC 6125 6.4.4: the common name only stands in for names the certificate does not otherwise present.
    const bool presentsNames = !dnsNames_.empty() || !srvNames_.empty() || !xmppAddresses_.empty();
    if (!commonName_.empty() && !presentsNames) {
        if (iequals(commonName_, host)) {
            OXL_LOG_DEBUG(logger(), "Match for '" << host << "' found in commonName");
            return CertIdentifierStatus::SUCCESS;
        }
        if (wildcardMatch(host, commonName_)) {
            OXL_LOG_DEBUG(logger(), "Wildcard match for '" << host << "' found in commonName");
            return CertIdentifierStatus::SUCCESS;
        }
    }
    OXL_LOG_ERROR(logger(), "No Match Found for '" << reference << "'");
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
    // The wildcard stands for exactly one non-empty label of the host.
    if (pattern.size() < 2 || pattern[0] != '*' || pattern[1] != '.' || host.empty() || host[0] == '.') {
        return false;
    }
    const std::string rest = pattern.substr(2);
    if (rest.find('*') != std::string::npos || looksLikeIpAddress(rest)) {
        return false;
    }
    if (psl::isPublicSuffix(rest)) {
        OXL_LOG_WARN(logger(), "Wildcard '" << pattern << "' spans the public suffix '" << rest << "'");
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
std::vector<std::string> AltNameParserImpl::getIpAddresses() const {
    std::vector<std::string> texts;
    for (const auto& bytes : ipAddresses_) {
        texts.push_back(ipText(bytes));
    }
    return texts;
}

std::shared_ptr<AltNameParser> AltNameParserFactory::buildAltNameParser() {
    return std::make_shared<AltNameParserImpl>();
}

}  // namespace oxl::cert
