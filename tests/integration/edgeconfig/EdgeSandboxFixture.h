// A running edge sandbox with one user, one token and a small configuration.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "oxl/edge/EdgeConfigParams.h"
#include "sandbox/EdgeSandbox.h"

namespace oxl::edge::test {

inline oxl::sandbox::SandboxConfiguration sandboxConfiguration() {
    oxl::sandbox::SandboxConfiguration c;
    c.services.push_back({"_pelko-zds._tcp", {{"zds-low", 8443, 20, 0}, {"zds-high", 8443, 10, 0}}, ""});
    c.services.push_back({"_dwrlogin._tcp", {{"login", 443, 1, 1}}, ""});
    c.services.push_back({"_refused._tcp", {}, "Refused"});
    c.sipEdgeServers = {{"sip.edge.test", 5061, 5060}};
    c.xmppEdgeServers = {{"xmpp.edge.test", 5222, 0}};
    c.httpEdgeServers = {{"http1.edge.test", 443, 0}, {"http2.edge.test", 8443, 0}};
    c.turnEdgeServers = {{"turn.edge.test", 5349, 3478}};
    c.sipRoutes = {"sip:route1.edge.test;lr", "sip:route2.edge.test;lr"};
    return c;
}

class EdgeSandboxTest : public ::testing::Test {
  protected:
    static constexpr long LIFETIME = 3600;
    // A name the sandbox's certificate carries, for clients that verify names only.
    static constexpr const char* EDGE_NAME = "edge.corp.test";

    void SetUp() override {
        oxl::sandbox::EdgeSandbox::Options options;
        options.domain = "corp.test";
        options.cookieLifetimeSeconds = LIFETIME;
        options.extraDnsNames = {EDGE_NAME};
        edge = std::make_unique<oxl::sandbox::EdgeSandbox>(options);
        edge->addUser("alice", "s3cret");
        edge->addToken("tok-123");
        edge->setConfiguration(sandboxConfiguration());
        ASSERT_TRUE(edge->start());
        ASSERT_FALSE(edge->trustFile().empty());
    }

    EdgeConfigParams params() const {
        EdgeConfigParams p;
        p.host = host;
        p.port = edge->port();
        p.domain = "corp.test";
        p.username = "alice";
        p.password = "s3cret";
        return p;
    }

    std::unique_ptr<oxl::sandbox::EdgeSandbox> edge;
    std::string host = "127.0.0.1";
};

}  // namespace oxl::edge::test
