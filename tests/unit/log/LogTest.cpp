#include <gtest/gtest.h>

#include <thread>

#include "oxl/diag/Diagnostics.h"
#include "oxl/log/Log.h"
#include "support/LogCapture.h"

namespace {

OXLLogger testLogger() {
    static OXLLogger logger = OXLLogger_getLogger("oxl.test.log");
    return logger;
}

int evaluations = 0;
int expensive() {
    ++evaluations;
    return 42;
}

struct Outer {
    template <typename T>
    static std::string member(T) {
        return oxl::log::qualifiedFunctionName(__PRETTY_FUNCTION__);
    }
    bool operator()(int) const { return true; }
};

}  // namespace

TEST(LogTest, FunctionNamesAreReducedToQualifiedNames) {
    struct Case {
        const char* signature;
        const char* expected;
    };
    const Case cases[] = {
        {"int oxl::edge::EdgeConfigRequestImpl::execute(int)", "oxl::edge::EdgeConfigRequestImpl::execute"},
        {"void oxl::a::B::f() const", "oxl::a::B::f"},
        {"oxl::a::B::B(const std::string&)", "oxl::a::B::B"},
        {"std::map<int, std::vector<int> > oxl::x::Y::g(std::map<int, int>)", "oxl::x::Y::g"},
        {"bool oxl::P::operator()(int) const", "oxl::P::operator()"},
        {"bool oxl::P::operator==(const oxl::P&) const", "oxl::P::operator=="},
        {"const char* oxl::Q::name()", "oxl::Q::name"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(oxl::log::qualifiedFunctionName(c.signature), c.expected) << c.signature;
    }
    EXPECT_EQ(oxl::log::qualifiedFunctionName(nullptr), "");
    EXPECT_EQ(Outer::member(1), "{anonymous}::Outer::member");
}

TEST(LogTest, MessagesAreBuiltOnlyWhenTheLevelIsEnabled) {
    oxl::test::LogCapture capture(OXL_LEVEL_INFO);
    evaluations = 0;
    OXL_LOG_DEBUG(testLogger(), "value " << expensive());
    EXPECT_EQ(evaluations, 0);
    EXPECT_FALSE(OXLLog_isDebugEnabled(testLogger()));
    OXL_LOG_INFO(testLogger(), "value " << expensive());
    EXPECT_EQ(evaluations, 1);
    ASSERT_EQ(capture.records().size(), 1u);
    const auto record = capture.records().front();
    EXPECT_EQ(record.message, "value 42");
    EXPECT_EQ(record.logger, "oxl.test.log");
    EXPECT_EQ(record.level, OXL_LEVEL_INFO);
    EXPECT_EQ(record.function, "LogTest_MessagesAreBuiltOnlyWhenTheLevelIsEnabled_Test::TestBody");
}

TEST(LogTest, PerLoggerLevelsOverrideTheDefaultAndAreCleared) {
    oxl::test::LogCapture capture(OXL_LEVEL_WARN);
    oxl::log::setLevel("oxl.test.log", OXL_LEVEL_TRACE);
    EXPECT_TRUE(OXLLog_isTraceEnabled(testLogger()));
    OXLLogger other = OXLLogger_getLogger("oxl.test.other");
    EXPECT_FALSE(OXLLog_isDebugEnabled(other));
    oxl::log::setDefaultLevel(OXL_LEVEL_DEBUG);
    EXPECT_TRUE(OXLLog_isDebugEnabled(other));
    EXPECT_TRUE(OXLLog_isTraceEnabled(testLogger()));  // its own level survives a default change
    oxl::log::clearLevel("oxl.test.log");
    EXPECT_FALSE(OXLLog_isTraceEnabled(testLogger()));
    EXPECT_EQ(OXLLogger_getLogger("oxl.test.log"), testLogger());
}

TEST(LogTest, ConcurrentWritersLoseNoRecord) {
    oxl::test::LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i) {
                OXL_LOG_INFO(testLogger(), "t" << t << " i" << i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(capture.records().size(), 1000u);
}

TEST(DiagnosticsTest, DefaultSinkKeepsTheMostRecentRecords) {
    auto ring = std::make_shared<OXLDiagnostics::MemoryDiagnosticsSink>(3);
    OXLDiagnostics::DiagnosticsWrapper::setSink(ring);
    for (int i = 0; i < 5; ++i) {
        OXLDiagnostics::DiagnosticsWrapper::AddRecord(0, 6, "n" + std::to_string(i), "v", i, "");
    }
    auto records = ring->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.front().name, "n2");
    EXPECT_EQ(records.back().number, 4);
    EXPECT_TRUE(OXLDiagnostics::DiagnosticsWrapper::recentRecords().empty());  // a host sink is installed

    OXLDiagnostics::DiagnosticsWrapper::setSink(nullptr);
    OXLDiagnostics::DiagnosticsWrapper::AddRecord(1, 0, "Edge Configuration", "https://e/x", 2, "");
    auto recent = OXLDiagnostics::DiagnosticsWrapper::recentRecords();
    ASSERT_FALSE(recent.empty());
    EXPECT_EQ(recent.back().value, "https://e/x");
    EXPECT_EQ(recent.back().recordType, 1);
}
