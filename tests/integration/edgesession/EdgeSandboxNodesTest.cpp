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

}  // namespace
}  // namespace oxl::sandbox
