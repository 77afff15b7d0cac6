// The tool against hostile command lines: devices and directories where a file is meant, endless standard
// input where a secret is read, URLs no transfer can use, a name server that does not answer. Each ends
// promptly with a usage error (2) or a failure (1) and one plain line; the library's own log lines appear
// only with -v.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ClientTestSupport.h"
#include "support/Dnsmasq.h"
#include "support/RunTool.h"

namespace oxl::http::test {
namespace {

using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;
using oxl::test::runProgram;
using oxl::test::ToolRun;

// Standard input from /dev/zero: an endless stream without a line end.
ToolRun runWithEndlessInput(const std::string& arguments) {
    return runProgram({"/bin/sh", "-c", "exec \"$0\" " + arguments + " </dev/zero", oxlnetPath()});
}

// A library log line carries its level in brackets and the function it came from.
bool hasLibraryLogLine(const std::string& text) {
    return text.find(" ERROR [") != std::string::npos || text.find(" WARN [") != std::string::npos ||
           text.find("oxl::") != std::string::npos;
}

TEST(OxlnetHostileInputTest, RefusedBeforeAnythingIsReadOrSent) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string url = "https://127.0.0.1:" + std::to_string(refusedPort()) + "/";
    const std::string secretArgs = "--domain d.test --token-stdin";
    const struct {
        std::string arguments;
        bool endlessInput;
        int status;
        std::string message;
    } table[] = {
        {"verify-cert --host a.test " + dir, false, 2, "is not a regular file"},
        {"verify-cert --host a.test /dev/zero", false, 2, "is not a regular file"},
        {"get https://127.0.0.1:70000/", false, 2, "port from 1 to 65535"},
        {"get https://127.0.0.1:0/", false, 2, "port from 1 to 65535"},
        {"get gopher://a.test/", false, 2, "not an http:// or https:// URL"},
        {"get a.test/path", false, 2, "not an http:// or https:// URL"},
        {"get " + url + " --failover ftp://b.test/", false, 2, "'ftp://b.test/' is not an http"},
        {"get " + url + " " + url + " file:///etc/passwd", false, 2, "'file:///etc/passwd' is not"},
        {"get --trust " + dir + " " + url, false, 2, "--trust: '" + dir + "' is not a regular file"},
        {"get --trust /dev/zero " + url, false, 2, "--trust: '/dev/zero' is not a regular file"},
        {"get --upload /dev/zero " + url, false, 2, "--upload: '/dev/zero' is not a regular file"},
        {"get --upload " + dir + " " + url, false, 2, "--upload: '" + dir + "' is not a regular file"},
        {"edge-config --host 127.0.0.1 --port 1 " + secretArgs, true, 2, "longer than 4096 bytes"},
        {"edge-config --host 127.0.0.1 --port 1 " + secretArgs + " --trust /dev/zero", false, 2,
         "is not a regular file"},
        {"edge-sandbox " + secretArgs, true, 2, "longer than 4096 bytes"},
        {"edge-session --internal-domain corp.test --external-domain ext.test --token-stdin", true, 2,
         "longer than 4096 bytes"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.arguments);
        const ToolRun run = row.endlessInput ? runWithEndlessInput(row.arguments) : runOxlnet(row.arguments);
        EXPECT_EQ(run.status, row.status) << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_FALSE(hasLibraryLogLine(run.err)) << run.err;
    }
}

TEST(OxlnetHostileInputTest, FailuresAreOnePlainLineUnlessVerbose) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(refusedPort()) + "/";
    const ToolRun quiet = runOxlnet({"get", url});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err, "result: HOST_UNREACHABLE_ERROR\n");

    const ToolRun verbose = runOxlnet({"get", "-v", url});
    EXPECT_EQ(verbose.status, 1);
    EXPECT_TRUE(hasLibraryLogLine(verbose.err)) << verbose.err;
    EXPECT_NE(verbose.err.find("result: HOST_UNREACHABLE_ERROR\n"), std::string::npos) << verbose.err;
}

TEST(OxlnetHostileInputTest, DetectTellsADeadNameServerFromNotVisible) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string deadServer = "127.0.0.1:" + std::to_string(oxl::test::freeLoopbackPort());
    const ToolRun dead = runOxlnet({"detect", "--internal-domain", "corp.test", "--external-domain",
                                    "ext.test", "--dns-server", deadServer});
    EXPECT_EQ(dead.status, 1);
    EXPECT_EQ(dead.out, "internal: unknown\nedge: unknown\n");
    EXPECT_NE(dead.err.find("the DNS server does not answer"), std::string::npos) << dead.err;
    EXPECT_FALSE(hasLibraryLogLine(dead.err)) << dead.err;
    // A command without a -v of its own shows the library's warnings and errors with it.
    const ToolRun verbose = runOxlnet({"detect", "-v", "--internal-domain", "corp.test", "--external-domain",
                                       "ext.test", "--dns-server", deadServer});
    EXPECT_EQ(verbose.status, 1);
    EXPECT_EQ(verbose.out, dead.out);
    EXPECT_TRUE(hasLibraryLogLine(verbose.err)) << verbose.err;

    oxl::test::Dnsmasq dns(
        oxl::test::DnsmasqRecords().addLocalDomain("corp.test").addLocalDomain("ext.test"));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    const ToolRun answered = runOxlnet({"detect", "--internal-domain", "corp.test", "--external-domain",
                                        "ext.test", "--dns-server", dns.address()});
    EXPECT_EQ(answered.status, 0) << answered.err;
    EXPECT_EQ(answered.out, "internal: not visible\nedge: not visible\n");
}

}  // namespace
}  // namespace oxl::http::test
