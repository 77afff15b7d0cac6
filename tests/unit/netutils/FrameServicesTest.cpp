#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "oxl/netutils/BackgroundTaskMarker.h"
#include "oxl/version/Version.h"
#include "support/LogCapture.h"
#include "support/RunTool.h"

using ::testing::MatchesRegex;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    out.push_back(current);
    return out;
}

}  // namespace

TEST(VersionTest, BannerLayoutAndLogging) {
    oxl::test::LogCapture logs;
    const std::string banner = oxl::version::Version::printVersion(false);
    EXPECT_TRUE(logs.records().empty());

    const auto l = lines(banner);
    ASSERT_EQ(l.size(), 10u) << banner;
    const std::string separator = "*" + std::string(38, '-') + "*";
    EXPECT_EQ(l[0], "");
    EXPECT_EQ(l[1], separator);
    EXPECT_EQ(l[2], "|\t\tOXL NetUtils");
    EXPECT_THAT(l[3], MatchesRegex("\\|\tSVN Branch:\t\t.+"));
    EXPECT_EQ(l[4], "|\tMajor Version:\t11");
    EXPECT_EQ(l[5], "|\tMinor Version:\t7");
    EXPECT_EQ(l[6], "|\tBuild Version:\t783");
    EXPECT_THAT(l[7], MatchesRegex("\\|\tSVN Version:\t[0-9]+"));
    EXPECT_THAT(l[8],
                MatchesRegex("\\|\tBuild Time:\t\t[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}"));
    EXPECT_EQ(l[9], separator);

    EXPECT_EQ(oxl::version::Version::printVersion(true), banner);
    const auto records = logs.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].logger, "oxl.netutils.version");
    EXPECT_EQ(records[0].level, OXL_LEVEL_INFO);
    EXPECT_EQ(records[0].message, banner);
}

TEST(BackgroundTaskMarkerTest, MarksProgressWithItsOwnCopyOfTheName) {
    oxl::test::LogCapture logs;
    std::string name = "GlobalEdgeState.EdgeRefresh";
    const oxl::netutils::BackgroundTaskMarker marker(name);
    name = "changed";
    EXPECT_EQ(marker.getId(), 0);
    marker.markProgress();
    marker.markProgress();
    const auto records = logs.records();
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r.logger, "oxl.netutils");
        EXPECT_EQ(r.level, OXL_LEVEL_INFO);
        EXPECT_EQ(r.message, "Progressing through background task GlobalEdgeState.EdgeRefresh, id 0.");
    }
}

TEST(OxlnetToolTest, VersionAndDemoCommands) {
    struct Case {
        const char* args;
        int status;
        const char* outputContains;
    };
    const Case cases[] = {
        {"version", 0, "|\t\tOXL NetUtils\n"},
        {"version extra", 2, ""},
        {"demo", 0, "demo: 10 steps passed"},
        {"demo --bogus", 2, ""},
    };
    if (oxl::test::oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto run = oxl::test::runOxlnet(std::string(c.args));
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.out.find(c.outputContains), std::string::npos) << run.out;
        if (c.status != 0) {
            EXPECT_EQ(run.out, "");
        }
    }
}
