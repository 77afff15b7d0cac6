// oxlnet get with several URLs, run as a process against the loopback servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "MultiClientTestSupport.h"
#include "support/RunTool.h"

namespace oxl::http::test {
namespace {

using ::testing::HasSubstr;

class OxlnetGetMultiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (oxl::test::oxlnetPath().empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
        ASSERT_TRUE(servers_.start());
    }
    oxl::test::ToolRun get(std::vector<std::string> args) {
        args.insert(args.begin(), "get");
        for (size_t i = 0; i < MultiServers::HOSTS.size(); ++i) {
            args.push_back("--resolve");
            args.push_back(std::string(MultiServers::HOSTS[i]) + ":" + std::to_string(servers_[i].port()) +
                           ":127.0.0.1");
        }
        args.push_back("--trust");
        args.push_back(servers_.trustFile());
        return oxl::test::runOxlnet(args);
    }

    MultiServers servers_;
    oxl::test::TestPki scratch_;
};

// "URL -> RESULT, STATUS, BYTES bytes, MS ms"
std::smatch lineFor(const std::string& out, const std::string& url) {
    std::smatch match;
    const std::regex line("(^|\n)" + std::regex_replace(url, std::regex(R"([.?*+^$()\[\]{}|\\])"), R"(\$&)") +
                          R"( -> (\w+), (\d+), (\d+) bytes, (\d+) ms\n)");
    std::regex_search(out, match, line);
    return match;
}

TEST_F(OxlnetGetMultiTest, EachUrlGetsOneLineAndTheExitTellsWhetherAllSucceeded) {
    const std::vector<std::string> urls = {servers_.url(0, "/ok"), servers_.url(1, "/missing"),
                                           servers_.url(2, "/bytes/5000"), url(refusedPort())};
    auto run = get({urls[0], urls[1], urls[2], urls[3], "--parallel", "2"});
    EXPECT_EQ(run.status, 1) << "one URL was refused\n" << run.out << run.err;
    struct Expected {
        const char* result;
        const char* status;
        const char* bytes;
    };
    const std::vector<Expected> expected = {{"SUCCESS", "200", "15"},
                                            {"SUCCESS", "404", "8"},
                                            {"SUCCESS", "200", "5000"},
                                            {"HOST_UNREACHABLE_ERROR", "0", "0"}};
    for (size_t i = 0; i < urls.size(); ++i) {
        SCOPED_TRACE(urls[i]);
        const auto m = lineFor(run.out, urls[i]);
        ASSERT_FALSE(m.empty()) << run.out;
        EXPECT_EQ(m[2], expected[i].result);
        EXPECT_EQ(m[3], expected[i].status);
        EXPECT_EQ(m[4], expected[i].bytes);
    }
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4) << "no body without -o";

    run = get({urls[0], urls[2]});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
}

TEST_F(OxlnetGetMultiTest, WithAnOutputDirectoryEveryBodyIsSavedUnderItsNumber) {
    const std::string dir = scratch_.dir();
    auto run = get(
        {servers_.url(0, "/bytes/70000"), servers_.url(1, "/error"), servers_.url(2, "/ok?x=1"), "-o", dir});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    auto read = [&](const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(read("1-70000"), MultiServers::pattern(70000));
    EXPECT_EQ(read("2-error"), "server error") << "a non-200 body is kept too";
    EXPECT_EQ(read("3-ok"), "ok c.multi.test");
    EXPECT_EQ(lineFor(run.out, servers_.url(0, "/bytes/70000"))[4], "70000");
}

TEST_F(OxlnetGetMultiTest, OptionsThatNeedOneUrlOrADirectoryAreRefused) {
    const std::string a = servers_.url(0, "/ok");
    const std::string b = servers_.url(1, "/ok");
    const std::string file = scratch_.writeText("plain.txt", "x");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{a, b, "-o", file}, "names a directory"},
        {{a, b, "--failover", b}, "take one URL"},
        {{a, b, "--parallel", "0"}, "--parallel needs a number"},
        {{a, "--parallel", "3"}, "--parallel needs several URLs"},
    };
    for (const auto& [args, message] : cases) {
        const auto run = get(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_THAT(run.err, HasSubstr(message));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(servers_[0].requestCount() + servers_[1].requestCount(), 0u);
}

}  // namespace
}  // namespace oxl::http::test
