#include "cert/platform/ChainPolicyChecks.h"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "common/TextUtils.h"

namespace oxl::cert::chain {

namespace {

struct EkuFree {
    void operator()(EXTENDED_KEY_USAGE* eku) const { EXTENDED_KEY_USAGE_free(eku); }
};
struct NameConstraintsFree {
    void operator()(NAME_CONSTRAINTS* nc) const { NAME_CONSTRAINTS_free(nc); }
};

bool allowsServerCertificates(const X509* ca) {
    if (X509_get_ext_by_NID(ca, NID_ext_key_usage, -1) < 0) {
        return true;
    }
    std::unique_ptr<EXTENDED_KEY_USAGE, EkuFree> eku(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(ca, NID_ext_key_usage, nullptr, nullptr)));
    if (!eku) {
        return false;
    }
    for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
        const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(eku.get(), i));
        if (nid == NID_server_auth || nid == NID_anyExtendedKeyUsage) {
            return true;
        }
    }
    return false;
}

bool isIpLiteral(const std::string& host) {
    unsigned char buffer[16];
    std::string text = host;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    in_addr v4{};
    return (text.find(':') == std::string::npos && inet_aton(text.c_str(), &v4) != 0) ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// Lower case without one trailing dot: "Example.COM." and "example.com" are the same name.
std::string canonical(const std::string& name) {
    std::string lower = oxl::common::text::toLower(name);
    if (!lower.empty() && lower.back() == '.') {
        lower.pop_back();
    }
    return lower;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool withinSubtree(const std::string& host, const ASN1_IA5STRING* base) {
    const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(base));
    const std::string raw(data, static_cast<size_t>(ASN1_STRING_length(base)));
    if (raw.find('\0') != std::string::npos) {
        return false;
    }
    const std::string constraint = canonical(raw);
    if (constraint.empty()) {
        return true;
    }
    if (constraint.front() == '.') {
        return host.size() > constraint.size() && endsWith(host, constraint);
    }
    return host == constraint || endsWith(host, "." + constraint);
}

// Whether `subtrees` holds any dNSName, and whether `host` lies inside one of them.
void scanSubtrees(const STACK_OF(GENERAL_SUBTREE) * subtrees, const std::string& host, bool& anyDns,
                  bool& inside) {
    anyDns = false;
    inside = false;
    for (int i = 0; i < sk_GENERAL_SUBTREE_num(subtrees); ++i) {
        const GENERAL_SUBTREE* subtree = sk_GENERAL_SUBTREE_value(subtrees, i);
        if (subtree == nullptr || subtree->base == nullptr || subtree->base->type != GEN_DNS) {
            continue;
        }
        anyDns = true;
        if (withinSubtree(host, subtree->base->d.dNSName)) {
            inside = true;
        }
    }
}

}  // namespace

int firstCaNotForServers(STACK_OF(X509) * chain) {
    for (int i = 1; i < sk_X509_num(chain); ++i) {
        if (!allowsServerCertificates(sk_X509_value(chain, i))) {
            return i;
        }
    }
    return -1;
}

bool dnsNameWithin(const std::string& host, const NAME_CONSTRAINTS* constraints) {
    if (constraints == nullptr) {
        return true;
    }
    const std::string name = canonical(host);
    bool anyDns = false;
    bool inside = false;
    scanSubtrees(constraints->permittedSubtrees, name, anyDns, inside);
    if (anyDns && !inside) {
        return false;
    }
    scanSubtrees(constraints->excludedSubtrees, name, anyDns, inside);
    return !inside;
}

int firstNameConstraintViolation(STACK_OF(X509) * chain, const std::string& host) {
    if (host.empty() || isIpLiteral(host)) {
        return -1;
    }
    for (int i = 1; i < sk_X509_num(chain); ++i) {
        const X509* ca = sk_X509_value(chain, i);
        if (X509_get_ext_by_NID(ca, NID_name_constraints, -1) < 0) {
            continue;
        }
        std::unique_ptr<NAME_CONSTRAINTS, NameConstraintsFree> constraints(
            static_cast<NAME_CONSTRAINTS*>(X509_get_ext_d2i(ca, NID_name_constraints, nullptr, nullptr)));
        if (!constraints || !dnsNameWithin(host, constraints.get())) {
            return i;
        }
    }
    return -1;
}

}  // namespace oxl::cert::chain
