// oxlnet demo run as a process: its exit status, the narration, and what it leaves behind.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/RunTool.h"

namespace {

// Processes whose command line contains every one of `parts`.
int countProcesses(const std::vector<std::string>& parts) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in("/proc/" + name + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool all = !cmdline.empty();
        for (const auto& part : parts) {
            all = all && cmdline.find(part) != std::string::npos;
        }
        count += all ? 1 : 0;
    }
    ::closedir(proc);
    return count;
}

class DemoTest : public ::testing::Test {
  protected:
    // The tool inherits TMPDIR: a private directory shows what it leaves behind.
    void SetUp() override {
        if (oxl::test::oxlnetPath().empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "oxl-demo-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        tmpDir_ = pattern;
        if (const char* old = std::getenv("TMPDIR")) {
            oldTmpDir_ = old;
        }
        ::setenv("TMPDIR", tmpDir_.c_str(), 1);
    }
    void TearDown() override {
        if (oldTmpDir_) {
            ::setenv("TMPDIR", oldTmpDir_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        if (!tmpDir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(tmpDir_, ignored);
        }
    }
    std::string tmpDir_;
    std::optional<std::string> oldTmpDir_;
};

TEST_F(DemoTest, RunsEveryStepInOrderAndLeavesNothingBehind) {
    const auto run = oxl::test::runOxlnet("demo");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("   FAILED "), std::string::npos) << run.out;

    // Key lines, in the order the story tells them.
    const std::vector<std::string> expected = {
        "ok     internal network: visible",
        "-> direct -> SUCCESS, status 200",
        "ok     the internal page came straight from the internal server: \"Welcome to the intranet.\"",
        "-> direct -> CERTIFICATE_VALIDATION_ERROR",
        "ok     the user was asked once",
        "ok     TCP probe of the edge: Result Success",
        "ok     the edge state's observer heard: internal network not visible",
        "ok     the edge configuration arrived: SUCCESS",
        "cookie X-Auth domain .ext.test path / expires 2",
        "ok     fetched from edge1.ext.test",
        "-> https://edge1.ext.test:",
        "ok     the same internal page arrived through the edge",
        "ok     the internal server received the application's cookie",
        "ok     the internal server's cookie came back under the edge path and was removed from the answer",
        "ok     renewed ",
        "failed: https://edge1.ext.test:",
        "ok     the request failed over to edge2.ext.test with the same session",
        "ok     the configuration was fetched again, from edge2.ext.test",
        "ok     terminateEdgeSession: SUCCESS",
        "ok     the old session cookie no longer opens the edge",
        "== global clean-up",
        "demo: 10 steps passed",
    };
    std::size_t from = 0;
    for (const auto& line : expected) {
        const std::size_t at = run.out.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing, or out of order: '" << line << "'\n" << run.out;
        from = at + line.size();
    }

    // dnsmasq was stopped and its log and the sandbox's trust file removed.
    std::smatch port;
    ASSERT_TRUE(std::regex_search(run.out, port, std::regex("dnsmasq on 127\\.0\\.0\\.1:([0-9]+)")))
        << run.out;
    EXPECT_EQ(countProcesses({"dnsmasq", "--port=" + port[1].str()}), 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(tmpDir_)) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << "left in TMPDIR: " << ::testing::PrintToString(left);
}

TEST_F(DemoTest, RejectsArgumentsWithoutRunning) {
    const auto run = oxl::test::runOxlnet("demo --fast");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find("unexpected argument '--fast'"), std::string::npos) << run.err;
}

}  // namespace
