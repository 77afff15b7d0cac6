// oxlnet doctor: the edge group (each edge server reachable, its certificate verified, the configuration
// fetched with the given credentials) and the --url group (each URL fetched as the library would, with the
// time split by phase).
#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <sstream>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/NetUtilsFactory.h"
#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxlnet/Handles.h"
#include "oxlnet/cmd_doctor.h"

namespace oxlnet::doctor {

namespace {

using ConfigResult = oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult;

constexpr const char* EDGE = "edge";
constexpr const char* URLS = "url";
constexpr std::size_t MAX_EDGE_SERVERS = 4;

// The chain the server sent, leaf first, from curl's certificate information.
std::unique_ptr<STACK_OF(X509), StackFree> peerChain(CURL* curl) {
    std::unique_ptr<STACK_OF(X509), StackFree> chain(sk_X509_new_null());
    curl_certinfo* info = nullptr;
    if (!chain || curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr) {
        return chain;
    }
    static const std::string PREFIX = "Cert:";
    for (int i = 0; i < info->num_of_certs; ++i) {
        for (const curl_slist* field = info->certinfo[i]; field != nullptr; field = field->next) {
            const std::string text = field->data;
            if (text.rfind(PREFIX, 0) != 0) {
                continue;
            }
            const std::string pem = text.substr(PREFIX.size());
            std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
            X509* cert = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr;
            if (cert != nullptr && sk_X509_push(chain.get(), cert) <= 0) {
                X509_free(cert);
            }
        }
    }
    return chain;
}

// A TLS handshake with one edge server (never verified here) and its chain put through the library's
// verifier, which gives its reasons.
void checkEdgeServer(const Options& o, const Endpoint& e, const Deadline& deadline, Findings& f, Report& r) {
    const std::string where = e.host + ":" + std::to_string(e.port);
    const auto limit = deadline.limit(std::chrono::milliseconds(5000));
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl || limit.count() <= 0) {
        r.add({EDGE, where, Verdict::FAILED,
               curl ? "not tried, the report's time is up" : "libcurl could not be set up", ""});
        return;
    }
    const std::string url = "https://" + oxl::ip::IpUtils::appendPortToAddress(e.host, e.port) + "/";
    std::unique_ptr<curl_slist, SlistFree> resolve;
    if (!o.dnsServer.empty() && !e.addresses.empty() && !oxl::ip::IpUtils::isIpAddress(e.host)) {
        const std::string entry = e.host + ":" + std::to_string(e.port) + ":" + e.addresses.front();
        resolve.reset(curl_slist_append(nullptr, entry.c_str()));
        curl_easy_setopt(curl.get(), CURLOPT_RESOLVE, resolve.get());
    }
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    std::string via;
    if (f.edgeProxy) {
        curl_easy_setopt(curl.get(), CURLOPT_PROXY, f.edgeProxy->getProxyServer().c_str());
        via = " through proxy " + f.edgeProxy->getProxyServer();
    } else {
        curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    }
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) {
        r.add({EDGE, where + " reachable", Verdict::FAILED, std::string(curl_easy_strerror(code)) + via,
               "the edge server does not complete a TLS handshake: it is down, or a firewall or proxy blocks "
               "port " +
                   std::to_string(e.port)});
        return;
    }
    char* ip = nullptr;
    curl_off_t tls = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_PRIMARY_IP, &ip);
    curl_easy_getinfo(curl.get(), CURLINFO_APPCONNECT_TIME_T, &tls);
    r.add({EDGE, where + " reachable", Verdict::OK,
           "TLS handshake with " + std::string(ip != nullptr ? ip : "?") + via + " in " +
               std::to_string(tls / 1000) + " ms",
           ""});

    auto chain = peerChain(curl.get());
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
    if (!chain || sk_X509_num(chain.get()) == 0 || !store || !ctx ||
        X509_STORE_CTX_init(ctx.get(), store.get(), sk_X509_value(chain.get(), 0), chain.get()) != 1) {
        r.add({EDGE, where + " certificate", Verdict::FAILED,
               "the server sent no certificate that could be read",
               "ask the edge administrator to check the server's certificate"});
        return;
    }
    const auto result =
        oxl::cert::CertVerifierFactory::createCertVerifier()->verifyCertificate(ctx.get(), e.host);
    std::ostringstream text;
    text << result;
    if (result.result == oxl::cert::CertResult::SUCCESS) {
        r.add({EDGE, where + " certificate", Verdict::OK, "verified for " + e.host, ""});
        f.trustedEdges.push_back(where);
    } else {
        r.add(
            {EDGE, where + " certificate", Verdict::FAILED, text.str(),
             "the edge certificate is not trusted here: install the issuing CA (or give it with --trust) or "
             "have the edge administrator fix the server's certificate chain"});
    }
}

std::string configSummary(const oxl::edge::EdgeConfig& config) {
    std::ostringstream text;
    std::vector<std::string> services;
    for (const auto& s : config.getOnPremServices()) {
        services.push_back(s.name + " (" + std::to_string(s.serverLocations.size()) + " server" +
                           (s.serverLocations.size() == 1 ? "" : "s") + ")");
    }
    text << "services: ";
    for (std::size_t i = 0; i < services.size(); ++i) {
        text << (i == 0 ? "" : ", ") << services[i];
    }
    if (services.empty()) {
        text << "none";
    }
    const std::pair<const char*, std::size_t> kinds[] = {
        {"http", config.getHttpEdgeService().serverLocations.size()},
        {"xmpp", config.getXmppEdgeService().serverLocations.size()},
        {"sip", config.getSipEdgeService().serverLocations.size()},
        {"turn", config.getTurnEdgeService().serverLocations.size()},
    };
    text << "; edge servers:";
    for (const auto& [kind, count] : kinds) {
        text << " " << kind << " " << count;
    }
    const long now = static_cast<long>(std::time(nullptr));
    for (const auto& cookie : config.getCookies()) {
        const long expiry = cookie.getExpirationDate();
        text << "; cookie " << cookie.getName() << " "
             << (expiry == 0
                     ? std::string("for the session")
                     : "lifetime " + std::to_string(expiry - now) + " s (until " + oxlnet::utc(expiry) + ")");
    }
    return text.str();
}

std::string configHint(ConfigResult::Result result) {
    switch (result) {
        case ConfigResult::EDGE_AUTHENTICATION_FAILED:
            return "the edge refused the credentials: check the user name and password (or the token)";
        case ConfigResult::EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR:
            return "the edge certificate is not trusted: see the certificate checks";
        case ConfigResult::EDGE_CONNECTIVITY_UNAVAILABLE:
            return "the library does not see the edge: see the DNS and detection checks";
        case ConfigResult::TOO_MANY_REQUESTS:
            return "the edge asks to slow down: try again in a few minutes";
        default:
            return "the edge gave no usable configuration: ask the edge administrator to check its logs";
    }
}

void checkConfiguration(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    if (!o.credentials) {
        r.add({EDGE, "configuration", Verdict::OK, "not fetched: no credentials given",
               "give --user U --password-stdin or --token-stdin to check the sign-in"});
        return;
    }
    if (f.trustedEdges.empty()) {
        r.add({EDGE, "configuration", Verdict::WARNING, "not fetched: no edge server passed the checks above",
               "fix the edge checks first"});
        return;
    }
    oxl::netutils::GlobalEdgeStateController::init(o.internalDomain, o.externalDomain);
    f.edgeState = std::dynamic_pointer_cast<oxl::edge::GlobalEdgeStateImpl>(
        oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState());
    if (!f.edgeState) {
        r.add({EDGE, "configuration", Verdict::FAILED, "the global edge state could not be built", ""});
        return;
    }
    const oxl::SecureString none;
    f.edgeState->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
        oxl::edge::Credentials(o.user, o.token ? none : o.secret, o.token ? o.secret : none)));
    struct Outcome {
        ConfigResult answer;
        oxl::edge::EdgeServiceLocation server;
    };
    auto outcome = std::make_shared<Outcome>();
    const auto limit = deadline.limit(std::chrono::milliseconds(10000));
    auto state = f.edgeState;
    const bool finished = runBounded(limit + std::chrono::milliseconds(500), [outcome, state, limit] {
        ConfigResult::Result first = ConfigResult::INTERNAL_ERROR;
        oxl::edge::GlobalEdgeState::RequestId id = 0;
        outcome->answer = oxlnet::fetchConfiguration(
            *state, std::chrono::duration_cast<std::chrono::seconds>(limit), first, id);
        outcome->server = state->getCurrentEdgeServer();
    });
    if (!finished) {
        r.add({EDGE, "configuration", Verdict::FAILED, "no answer in time",
               "the edge accepted the connection but did not answer: ask the edge administrator"});
        return;
    }
    std::ostringstream result;
    result << outcome->answer.result;
    if (outcome->answer.result != ConfigResult::SUCCESS) {
        r.add({EDGE, "configuration", Verdict::FAILED, result.str(), configHint(outcome->answer.result)});
        return;
    }
    f.edgeConfigured = true;
    r.add({EDGE, "configuration", Verdict::OK,
           result.str() + " from " + outcome->server.address + ":" + std::to_string(outcome->server.tlsPort) +
               "; " + configSummary(outcome->answer.edgeConfig),
           ""});
}

std::string phase(long long from, long long to) {
    return from < 0 || to < 0 ? std::string("?") : std::to_string(std::max(0LL, to - from) / 1000) + " ms";
}

std::string timingText(const oxl::http::Response::Timing& t) {
    const long long connected = t.tlsUs > 0 ? t.tlsUs : t.connectUs;
    return "DNS " + phase(0, t.nameLookupUs) + ", connect " + phase(t.nameLookupUs, t.connectUs) + ", TLS " +
           (t.tlsUs > 0 ? phase(t.connectUs, t.tlsUs) : std::string("none")) + ", first byte " +
           phase(connected, t.firstByteUs) + ", total " + phase(0, t.totalUs);
}

std::string urlHint(oxl::http::HttpClientResult::Result result) {
    using R = oxl::http::HttpClientResult;
    switch (result) {
        case R::UNRESOLVED_HOST_ERROR:
            return "the name does not resolve: see the DNS checks";
        case R::HOST_UNREACHABLE_ERROR:
        case R::CONNECTION_TIMEOUT_ERROR:
            return "the server does not answer from here: inside it needs a direct route, outside the edge";
        case R::CERTIFICATE_VALIDATION_ERROR:
            return "the server's certificate is not trusted: install the issuing CA or give it with --trust";
        case R::EDGE_AUTHENTICATION_FAILED:
            return "the edge refused the session: see the configuration check";
        case R::UNRESOLVED_PROXY_ERROR:
        case R::COULDNT_RESOLVE_PROXY_ERROR:
            return "the proxy cannot be reached: see the proxy checks";
        default:
            return "see the checks above";
    }
}

void pinUrlHost(const std::string& url) {
    const auto start = url.find("://") + 3;
    const std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    if (authority.empty() || authority.front() == '[') {
        return;
    }
    const auto colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    unsigned int port = url.rfind("https", 0) == 0 ? 443 : 80;
    if (colon != std::string::npos && !parsePort(authority.substr(colon + 1), port)) {
        return;
    }
    std::vector<oxl::dns::ARecord> records;
    if (!oxl::ip::IpUtils::isIpAddress(host) &&
        oxl::dns::DnsUtils::executeARecordQuery(host, records) == oxl::dns::DnsQueryResult::SUCCESS) {
        oxl::http::NamePinning::instance().pin(host, port, records.front().getIP4Address());
    }
}

}  // namespace

void checkEdge(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    if (f.edge.empty()) {
        if (f.internalVisible) {
            r.add({EDGE, "edge servers", Verdict::OK, "none published; not needed inside", ""});
        } else {
            r.add(
                {EDGE, "edge servers", Verdict::FAILED, "none published under " + o.externalDomain,
                 "without the edge record only a VPN reaches the services from outside: see the DNS checks"});
        }
        return;
    }
    std::set<std::string> seen;
    for (const auto& e : f.edge) {
        if (seen.size() < MAX_EDGE_SERVERS && seen.insert(e.host + ":" + std::to_string(e.port)).second) {
            checkEdgeServer(o, e, deadline, f, r);
        }
    }
    checkConfiguration(o, deadline, f, r);
}

ClientBundle makeClient(bool throughEdge) {
    ClientBundle bundle;
    bundle.client = std::dynamic_pointer_cast<oxl::http::BasicHttpClientImpl>(
        oxl::netutils::NetUtilsFactory().createBasicHttpClient());
    bundle.noted = std::make_shared<oxlnet::UrlNotingEvaluator>();
    bundle.client->setCurlAnswerEvaluator(bundle.noted);
    if (throughEdge) {
        bundle.client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    }
    return bundle;
}

void checkUrls(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    if (o.urls.empty()) {
        return;
    }
    auto bundle = std::make_shared<ClientBundle>(makeClient(f.edgeConfigured));
    auto resolver = std::make_shared<oxl::http::SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(
        std::make_shared<oxl::http::HttpProxyConfigurationReader>(proxySource(o)));
    for (const auto& url : o.urls) {
        const auto limit = deadline.limit(std::chrono::milliseconds(8000));
        if (limit.count() < 1000) {
            r.add({URLS, url, Verdict::FAILED, "not tried, the report's time is up",
                   "run again with fewer --url"});
            continue;
        }
        if (!o.dnsServer.empty() && f.resolverAnswered) {
            pinUrlHost(url);
        }
        auto request = std::make_shared<oxl::http::Request>(url);
        request->getOptions()->connectionTimeout = std::min<long>(5000, static_cast<long>(limit.count()));
        request->getOptions()->transferTimeout = static_cast<long>(limit.count());
        request->useSystemProxy(true);
        request->setSystemProxyResolver(resolver);
        struct Outcome {
            oxl::http::HttpClientResult::Result result = oxl::http::HttpClientResult::UNKNOWN_ERROR;
            oxl::http::Response response;
            std::string used;
        };
        auto outcome = std::make_shared<Outcome>();
        const bool finished =
            runBounded(limit + std::chrono::milliseconds(1000), [bundle, request, outcome, url] {
                std::vector<oxl::http::FailedUrlInfo> failed;
                outcome->result =
                    bundle->client->executeWithFailover(request, {}, outcome->response, &failed);
                // A URL other than the one asked for means the request was rewritten for the edge.
                const std::string first = bundle->noted->take();
                outcome->used = first != url ? first : std::string();
            });
        if (!finished) {
            r.add({URLS, url, Verdict::FAILED, "no answer in time", "the server or the proxy hangs"});
            continue;
        }
        std::ostringstream text;
        text << (outcome->used.empty() ? "direct" : "through the edge " + outcome->used) << ": "
             << outcome->result;
        if (outcome->result == oxl::http::HttpClientResult::SUCCESS) {
            text << ", status " << outcome->response.responseCode;
        }
        text << "; " << timingText(outcome->response.timing);
        if (outcome->result != oxl::http::HttpClientResult::SUCCESS) {
            r.add({URLS, url, Verdict::FAILED, text.str(), urlHint(outcome->result)});
        } else if (outcome->response.responseCode >= 400) {
            r.add({URLS, url, Verdict::WARNING, text.str(), "the server answered with an error status"});
        } else {
            r.add({URLS, url, Verdict::OK, text.str(), ""});
        }
    }
}

void finishEdge(const Deadline& deadline, Findings& f) {
    if (!f.edgeState) {
        return;
    }
    auto state = f.edgeState;
    const bool configured = f.edgeConfigured;
    // Ending the session is courtesy to the edge; it gets what is left of the report's time, at least a bit.
    const bool finished =
        runBounded(std::max(deadline.limit(std::chrono::milliseconds(3000)), std::chrono::milliseconds(1000)),
                   [state, configured] {
                       if (configured) {
                           state->terminateEdgeSession();
                       }
                       state->stop();
                   });
    f.edgeState.reset();
    if (finished) {
        oxl::netutils::GlobalEdgeStateController::reset();
    }
}

}  // namespace oxlnet::doctor
