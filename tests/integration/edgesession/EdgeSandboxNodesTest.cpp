// The edge nodes the session tests lean on really fail the way they are told to, one node at a time.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>

#include "sandbox/EdgeSandbox.h"

namespace oxl::sandbox {
namespace {

TEST(EdgeSandboxNodesTest, FaultsArePerNodeAndCanBeCleared) {
    EdgeSandbox::Options options;
    options.domain = "corp.test";
    options.nodes = 2;
    EdgeSandbox edge(options);
    edge.addUser("alice", "pw");
    ASSERT_TRUE(edge.start());
    ASSERT_EQ(edge.nodeCount(), 2u);
    ASSERT_NE(edge.port(0), edge.port(1));

    const auto status = [&](std::size_t node) {
        httplib::SSLClient client("127.0.0.1", edge.port(node));
        client.set_ca_cert_path(edge.trustFile().c_str());
        client.set_connection_timeout(2);
        client.set_read_timeout(1);
        client.set_basic_auth("alice", "pw");
        const auto result = client.Get(edge.domainPath() + "/get_edge_config");
        return result ? result->status : -static_cast<int>(result.error());
    };
    using F = EdgeSandbox::NodeFault;
    const struct {
        F fault;
        int node0;
    } table[] = {
        {F::NONE, 200},
        {F::SERVICE_UNAVAILABLE, 503},
        {F::REFUSE, -static_cast<int>(httplib::Error::Connection)},
        {F::HANG, -static_cast<int>(httplib::Error::Read)},
        {F::NONE, 200},  // the refused port was opened again and the hang released
    };
    for (const auto& row : table) {
        ASSERT_TRUE(edge.setNodeFault(0, row.fault));
        EXPECT_EQ(status(0), row.node0) << static_cast<int>(row.fault);
        EXPECT_EQ(status(1), 200) << "node 1 is not affected";
    }
    // Each node logs what it received; the refused request never arrived.
    const auto node0 = edge.received(0);
    const auto node1 = edge.received(1);
    EXPECT_EQ(node1.size(), 5u);
    EXPECT_EQ(node0.size(), 4u);
    EXPECT_EQ(edge.received().size(), 9u);
    EXPECT_FALSE(edge.setNodeFault(2, F::REFUSE));
    EXPECT_TRUE(edge.waitForRequest([](const EdgeSandbox::ReceivedRequest& r) { return r.status == 503; },
                                    std::chrono::milliseconds(0)));
}

// A refresh retires the old cookie at once, or, when the edge keeps refreshed sessions, at its own expiry;
// ending the session retires it either way.
TEST(EdgeSandboxNodesTest, RefreshRetiresTheOldSessionUnlessKept) {
    for (const bool keep : {false, true}) {
        EdgeSandbox::Options options;
        options.domain = "corp.test";
        options.keepRefreshedSessions = keep;
        EdgeSandbox edge(options);
        edge.addUser("alice", "pw");
        ASSERT_TRUE(edge.start());
        httplib::SSLClient client("127.0.0.1", edge.port());
        client.set_ca_cert_path(edge.trustFile().c_str());
        client.set_basic_auth("alice", "pw");
        const auto config = client.Get(edge.domainPath() + "/get_edge_config");
        ASSERT_TRUE(config && config->status == 200);
        const std::string setCookie = config->get_header_value("Set-Cookie");
        ASSERT_EQ(setCookie.rfind("X-Auth=", 0), 0u) << setCookie;
        const std::string old = setCookie.substr(7, setCookie.find(';') - 7);
        const httplib::Headers withOld = {{"Cookie", "X-Auth=" + old}};

        const auto refresh = client.Get(edge.domainPath() + "/get_edge_refresh", withOld);
        ASSERT_TRUE(refresh && refresh->status == 200);
        EXPECT_EQ(edge.isSessionValid(old), keep) << "keep=" << keep;
        const auto end = client.Get(edge.domainPath() + "/get_edge_refresh?ttl=0", withOld);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->status, keep ? 200 : 401) << "keep=" << keep;
        EXPECT_FALSE(edge.isSessionValid(old)) << "keep=" << keep;
    }
}

}  // namespace
}  // namespace oxl::sandbox
