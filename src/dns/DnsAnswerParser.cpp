#include "dns/DnsAnswerParser.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>

#include <array>
#include <memory>

#include "oxl/log/Log.h"

namespace oxl::dns::detail {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}

constexpr int kClassIn = 1;
constexpr int kTypeCname = 5;

struct StringDeleter {
    void operator()(char* s) const { ares_free_string(s); }
};
struct HostentDeleter {
    void operator()(hostent* h) const { ares_free_hostent(h); }
};
struct DataDeleter {
    void operator()(void* p) const { ares_free_data(p); }
};

uint16_t read16(const std::vector<unsigned char>& m, size_t at) {
    return static_cast<uint16_t>((m[at] << 8) | m[at + 1]);
}

// Expands the (possibly compressed) name at `at`; `used` is its length in place.
bool expandName(const std::vector<unsigned char>& m, size_t at, std::string& name, size_t& used) {
    if (at >= m.size()) {
        return false;
    }
    char* raw = nullptr;
    long length = 0;
    if (ares_expand_name(m.data() + at, m.data(), static_cast<int>(m.size()), &raw, &length) !=
        ARES_SUCCESS) {
        return false;
    }
    std::unique_ptr<char, StringDeleter> guard(raw);
    name = raw;
    used = static_cast<size_t>(length);
    return true;
}

bool readQuestion(const std::vector<unsigned char>& m, std::string& question) {
    size_t used = 0;
    return m.size() >= 12 && read16(m, 4) >= 1 && expandName(m, 12, question, used);
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// TTLs of the records of one type in answer order.
std::vector<int32_t> ttlsOfType(const std::vector<WireRecord>& wire, int type) {
    std::vector<int32_t> ttls;
    for (const auto& r : wire) {
        if (r.type == type && r.dnsClass == kClassIn) {
            ttls.push_back(r.ttl);
        }
    }
    return ttls;
}

int32_t ttlAt(const std::vector<int32_t>& ttls, size_t i) {
    return i < ttls.size() ? ttls[i] : 0;
}

std::string ntop(int family, const void* bytes) {
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(family, bytes, text, sizeof(text)) != nullptr ? std::string(text) : std::string();
}

int parseSrv(const std::vector<unsigned char>& m, const std::vector<WireRecord>& wire,
             std::vector<ServiceResourceRecord>& out) {
    ares_srv_reply* head = nullptr;
    const int status = ares_parse_srv_reply(m.data(), static_cast<int>(m.size()), &head);
    std::unique_ptr<void, DataDeleter> guard(head);
    if (status != ARES_SUCCESS) {
        return status;
    }
    const auto ttls = ttlsOfType(wire, 33);
    size_t i = 0;
    for (auto* r = head; r != nullptr; r = r->next, ++i) {
        out.emplace_back(r->priority, r->weight, r->port, r->host ? r->host : "", ttlAt(ttls, i));
    }
    return ARES_SUCCESS;
}

// c-ares hands a TTL with the top bit set on as a negative number; like our own reading of the answer
// section, count it as zero (RFC 2181, section 8).
int32_t aresTtl(int ttl) {
    return ttl < 0 ? 0 : ttl;
}

int parseA(const std::vector<unsigned char>& m, const std::vector<WireRecord>& wire,
           std::vector<ARecord>& out) {
    std::vector<ares_addrttl> addrs(ttlsOfType(wire, 1).size() + 1);
    int count = static_cast<int>(addrs.size());
    hostent* host = nullptr;
    const int status = ares_parse_a_reply(m.data(), static_cast<int>(m.size()), &host, addrs.data(), &count);
    std::unique_ptr<hostent, HostentDeleter> guard(host);
    if (status != ARES_SUCCESS) {
        return status;
    }
    const std::string name = (host && host->h_name) ? host->h_name : "";
    for (int i = 0; i < count; ++i) {
        out.emplace_back(name, ntop(AF_INET, &addrs[i].ipaddr), aresTtl(addrs[i].ttl));
    }
    return ARES_SUCCESS;
}

int parseAaaa(const std::vector<unsigned char>& m, const std::vector<WireRecord>& wire,
              std::vector<AAAARecord>& out) {
    std::vector<ares_addr6ttl> addrs(ttlsOfType(wire, 28).size() + 1);
    int count = static_cast<int>(addrs.size());
    hostent* host = nullptr;
    const int status =
        ares_parse_aaaa_reply(m.data(), static_cast<int>(m.size()), &host, addrs.data(), &count);
    std::unique_ptr<hostent, HostentDeleter> guard(host);
    if (status != ARES_SUCCESS) {
        return status;
    }
    const std::string name = (host && host->h_name) ? host->h_name : "";
    for (int i = 0; i < count; ++i) {
        out.emplace_back(name, ntop(AF_INET6, &addrs[i].ip6addr), aresTtl(addrs[i].ttl));
    }
    return ARES_SUCCESS;
}

int parseTxt(const std::vector<unsigned char>& m, const std::vector<WireRecord>& wire,
             std::vector<TXTRecord>& out) {
    ares_txt_ext* head = nullptr;
    const int status = ares_parse_txt_reply_ext(m.data(), static_cast<int>(m.size()), &head);
    std::unique_ptr<void, DataDeleter> guard(head);
    if (status != ARES_SUCCESS) {
        return status;
    }
    std::vector<const WireRecord*> txts;
    for (const auto& r : wire) {
        if (r.type == 16 && r.dnsClass == kClassIn) {
            txts.push_back(&r);
        }
    }
    std::vector<std::vector<std::string>> strings;
    for (auto* r = head; r != nullptr; r = r->next) {
        if (r->record_start || strings.empty()) {
            strings.emplace_back();
        }
        strings.back().emplace_back(reinterpret_cast<const char*>(r->txt), r->length);
    }
    for (size_t i = 0; i < strings.size(); ++i) {
        const WireRecord* w = i < txts.size() ? txts[i] : nullptr;
        out.emplace_back(w ? w->owner : std::string(), std::move(strings[i]), w ? w->ttl : 0);
    }
    return ARES_SUCCESS;
}

int parsePtr(const std::vector<unsigned char>& m, const std::vector<WireRecord>& wire,
             std::vector<PointerRecord>& out) {
    // The parser copies an address into its result; the answer does not depend on it.
    const std::array<unsigned char, 4> unused{};
    hostent* host = nullptr;
    const int status =
        ares_parse_ptr_reply(m.data(), static_cast<int>(m.size()), unused.data(), 4, AF_INET, &host);
    std::unique_ptr<hostent, HostentDeleter> guard(host);
    if (status != ARES_SUCCESS) {
        return status;
    }
    // The PTR records that answer the question (after any CNAME), as the parser selects them.
    std::string owner;
    readQuestion(m, owner);
    std::vector<int32_t> ttls;
    for (const auto& r : wire) {
        if (r.dnsClass != kClassIn || !sameName(r.owner, owner)) {
            continue;
        }
        if (r.type == kTypeCname) {
            size_t used = 0;
            std::string target;
            if (expandName(m, r.rdataOffset, target, used)) {
                owner = target;
            }
        } else if (r.type == 12) {
            ttls.push_back(r.ttl);
        }
    }
    size_t i = 0;
    if (host != nullptr && host->h_aliases != nullptr) {
        for (char** alias = host->h_aliases; *alias != nullptr; ++alias, ++i) {
            out.emplace_back(owner, *alias, ttlAt(ttls, i));
        }
    }
    if (out.empty() && host != nullptr && host->h_name != nullptr) {
        out.emplace_back(owner, host->h_name, ttlAt(ttls, 0));
    }
    return ARES_SUCCESS;
}

}  // namespace

DnsQueryResult::Result resultFromAresStatus(int status) {
    switch (status) {
        case ARES_SUCCESS:
            return DnsQueryResult::SUCCESS;
        case ARES_ENODATA:
            return DnsQueryResult::NO_RECORDS;
        case ARES_ENOTFOUND:
            return DnsQueryResult::DOMAIN_DOES_NOT_EXIST;
        case ARES_ETIMEOUT:
            return DnsQueryResult::TIMEOUT;
        case ARES_ECONNREFUSED:
            return DnsQueryResult::NO_NETWORK;
        case ARES_ESERVFAIL:
            return DnsQueryResult::SERVER_FAILURE;
        case ARES_EREFUSED:
        case ARES_ENOTIMP:
            return DnsQueryResult::SERVER_REFUSED;
        case ARES_EFORMERR:
        case ARES_EBADRESP:
        case ARES_EOF:
            return DnsQueryResult::BAD_RESPONSE;
        case ARES_EBADQUERY:
        case ARES_EBADNAME:
        case ARES_EBADFAMILY:
        case ARES_EBADSTR:
            return DnsQueryResult::BAD_QUERY;
        case ARES_ECANCELLED:
        case ARES_EDESTRUCTION:
            return DnsQueryResult::CANCELLED;
        default:
            return DnsQueryResult::INTERNAL_ERROR;
    }
}

bool readAnswerSection(const std::vector<unsigned char>& m, std::vector<WireRecord>& records) {
    if (m.size() < 12) {
        return false;
    }
    const unsigned questions = read16(m, 4);
    const unsigned answers = read16(m, 6);
    size_t at = 12;
    for (unsigned q = 0; q < questions; ++q) {
        std::string name;
        size_t used = 0;
        if (!expandName(m, at, name, used) || at + used + 4 > m.size()) {
            return false;
        }
        at += used + 4;
    }
    for (unsigned a = 0; a < answers; ++a) {
        WireRecord r;
        size_t used = 0;
        if (!expandName(m, at, r.owner, used) || at + used + 10 > m.size()) {
            return false;
        }
        at += used;
        r.type = read16(m, at);
        r.dnsClass = read16(m, at + 2);
        const uint32_t ttl = (static_cast<uint32_t>(read16(m, at + 4)) << 16) | read16(m, at + 6);
        r.ttl = ttl > 0x7fffffffu ? 0 : static_cast<int32_t>(ttl);
        r.rdataLength = read16(m, at + 8);
        r.rdataOffset = at + 10;
        if (r.rdataOffset + r.rdataLength > m.size()) {
            return false;
        }
        at = r.rdataOffset + r.rdataLength;
        records.push_back(std::move(r));
    }
    return true;
}

void fillAnswer(DnsAnswer& answer, const RawAnswer& raw) {
    if (raw.cutOff) {
        answer.result = DnsQueryResult::TIMEOUT;
        return;
    }
    answer.result = resultFromAresStatus(raw.status);
    if (answer.result != DnsQueryResult::SUCCESS) {
        return;
    }
    std::vector<WireRecord> wire;
    if (!readAnswerSection(raw.message, wire)) {
        OXL_LOG_DEBUG(logger(), "Malformed answer section for " << answer.query->getName());
        answer.result = DnsQueryResult::BAD_RESPONSE;
        return;
    }
    int status = ARES_EBADQUERY;
    switch (answer.query->getType()) {
        case DnsQueryType::SRV:
            status = parseSrv(raw.message, wire, answer.srvRecords);
            break;
        case DnsQueryType::A:
            status = parseA(raw.message, wire, answer.aRecords);
            break;
        case DnsQueryType::AAAA:
            status = parseAaaa(raw.message, wire, answer.aaaaRecords);
            break;
        case DnsQueryType::TXT:
            status = parseTxt(raw.message, wire, answer.txtRecords);
            break;
        case DnsQueryType::PTR:
            status = parsePtr(raw.message, wire, answer.ptrRecords);
            break;
    }
    answer.result = resultFromAresStatus(status);
    if (answer.result == DnsQueryResult::SUCCESS && answer.recordCount() == 0) {
        answer.result = DnsQueryResult::NO_RECORDS;
    }
    if (answer.result != DnsQueryResult::SUCCESS) {
        answer.srvRecords.clear();
        answer.aRecords.clear();
        answer.aaaaRecords.clear();
        answer.txtRecords.clear();
        answer.ptrRecords.clear();
    }
}

std::string reverseNameFor(const std::string& name) {
    unsigned char bytes[16];
    static const char* hex = "0123456789abcdef";
    if (inet_pton(AF_INET, name.c_str(), bytes) == 1) {
        return std::to_string(bytes[3]) + "." + std::to_string(bytes[2]) + "." + std::to_string(bytes[1]) +
               "." + std::to_string(bytes[0]) + ".in-addr.arpa";
    }
    if (inet_pton(AF_INET6, name.c_str(), bytes) == 1) {
        std::string out;
        for (int i = 15; i >= 0; --i) {
            out += hex[bytes[i] & 0x0f];
            out += '.';
            out += hex[bytes[i] >> 4];
            out += '.';
        }
        return out + "ip6.arpa";
    }
    return name;
}

}  // namespace oxl::dns::detail
