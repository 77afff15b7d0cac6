// The loopback world of the edge session tests: an internal web server, a cluster of two HTTPS edge nodes
// (edge1.ext.test and edge2.ext.test, sharing accounts and sessions; the session cookie is set for the
// whole ext.test domain) and dnsmasq publishing the edge under the external domain only.
#pragma once

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <memory>
#include <string>

#include "sandbox/DnsSandbox.h"
#include "sandbox/EdgeSandbox.h"
#include "sandbox/InternalWebServer.h"

namespace oxl::edge::test {

struct EdgeSessionSandbox {
    static constexpr const char* INTERNAL_DOMAIN = "corp.test";
    static constexpr const char* EXTERNAL_DOMAIN = "ext.test";
    static constexpr const char* EDGE1 = "edge1.ext.test";
    static constexpr const char* EDGE2 = "edge2.ext.test";
    static constexpr const char* USER = "alice@corp.test";
    static constexpr const char* PAGE = "/page.txt";
    static constexpr const char* PAGE_TEXT = "internal page\n";

    std::unique_ptr<oxl::sandbox::InternalWebServer> intranet;
    std::unique_ptr<oxl::sandbox::EdgeSandbox> edge;
    std::unique_ptr<oxl::sandbox::DnsSandbox> dns;
    std::string password;

    // False (with the reason in `problem`) when something could not be started.
    bool start(long cookieLifetimeSeconds, std::string& problem) {
        unsigned char bytes[12];
        if (RAND_bytes(bytes, sizeof bytes) != 1) {
            problem = "no random password";
            return false;
        }
        for (const unsigned char b : bytes) {
            password += "0123456789abcdef"[b & 0x0f];
        }
        intranet = std::make_unique<oxl::sandbox::InternalWebServer>();
        intranet->addFile(PAGE, PAGE_TEXT);
        if (!intranet->start()) {
            problem = "internal web server";
            return false;
        }
        oxl::sandbox::EdgeSandbox::Options options;
        options.domain = INTERNAL_DOMAIN;
        options.extraDnsNames = {EDGE1, EDGE2};
        options.nodes = 2;
        options.cookieDomain = EXTERNAL_DOMAIN;
        options.cookiesUnderEdgePath = true;
        options.cookieLifetimeSeconds = cookieLifetimeSeconds;
        edge = std::make_unique<oxl::sandbox::EdgeSandbox>(options);
        // The edge knows the user by the user part of the address.
        edge->addUser("alice", password);
        if (!edge->start()) {
            problem = "edge nodes";
            return false;
        }
        oxl::sandbox::SandboxConfiguration configuration;
        configuration.httpEdgeServers = {{EDGE1, edge->port(0), 0}, {EDGE2, edge->port(1), 0}};
        configuration.sipEdgeServers = {{EDGE1, 5061, 5060}};
        configuration.xmppEdgeServers = {{EDGE1, 5222, 0}};
        configuration.sipRoutes = {std::string("sip:") + EDGE1 + ";lr"};
        edge->setConfiguration(configuration);
        if (!oxl::sandbox::DnsSandbox::isInstalled()) {
            problem = "dnsmasq is not installed";
            return false;
        }
        dns = std::make_unique<oxl::sandbox::DnsSandbox>(outside());
        if (!dns->isRunning()) {
            problem = "dnsmasq: " + dns->log();
            return false;
        }
        return true;
    }

    oxl::sandbox::DnsSandboxRecords outside() const {
        return oxl::sandbox::DnsSandboxRecords()
            .addSrv(std::string("_brisel-edge._tls.") + EXTERNAL_DOMAIN, EDGE1, edge->port(0), 10, 0)
            .addSrv(std::string("_brisel-edge._tls.") + EXTERNAL_DOMAIN, EDGE2, edge->port(1), 20, 0)
            .addA(EDGE1, "127.0.0.1")
            .addA(EDGE2, "127.0.0.1")
            .addLocalDomain(INTERNAL_DOMAIN)
            .addLocalDomain(EXTERNAL_DOMAIN);
    }
    oxl::sandbox::DnsSandboxRecords inside() const {
        return outside().addSrv(std::string("_pelko-zds._tcp.") + INTERNAL_DOMAIN, "127.0.0.1",
                                intranet->port(), 10, 0);
    }

    std::string internalUrl(const std::string& path) const { return intranet->url(path); }
    std::string token() const {
        return oxl::sandbox::EdgeSandbox::tokenizedBaseUrl(INTERNAL_DOMAIN, "http", "127.0.0.1",
                                                           intranet->port());
    }
};

}  // namespace oxl::edge::test
