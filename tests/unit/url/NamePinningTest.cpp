#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "oxl/http/NamePinning.h"

using oxl::http::NamePinning;

namespace {
struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

class NamePinningTest : public ::testing::Test {
  protected:
    void SetUp() override { NamePinning::instance().clear(); }
    void TearDown() override { NamePinning::instance().clear(); }
};
}  // namespace

TEST_F(NamePinningTest, PinValidatesHostPortAndAddress) {
    struct Case {
        const char* host;
        uint32_t port;
        const char* address;
        bool accepted;
    };
    const Case cases[] = {
        {"svc.test", 443, "127.0.0.1", true},
        {"svc6.test", 1, "::1", true},
        {"max.test", 65535, "10.0.0.1", true},
        {"svc.test", 0, "127.0.0.1", false},
        {"svc.test", 65536, "127.0.0.1", false},
        {"svc.test", 443, "localhost", false},
        {"svc.test", 443, "", false},
        {"", 443, "127.0.0.1", false},
        {"svc.test:80", 443, "127.0.0.1", false},
        {"https://svc.test", 443, "127.0.0.1", false},
        {"::1", 443, "127.0.0.1", false},
        {"a,b.test", 443, "127.0.0.1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + std::to_string(c.port) + " " + c.address);
        EXPECT_EQ(NamePinning::instance().pin(c.host, c.port, c.address), c.accepted);
    }
    const auto entries = NamePinning::instance().entries();
    ASSERT_EQ(entries.size(), 3U);
    EXPECT_EQ(entries[0], (NamePinning::Entry{"max.test", 65535, "10.0.0.1"}));
    EXPECT_EQ(entries[1], (NamePinning::Entry{"svc.test", 443, "127.0.0.1"}));
    EXPECT_EQ(entries[2], (NamePinning::Entry{"svc6.test", 1, "::1"}));
}

TEST_F(NamePinningTest, RepinReplacesAndUnpinLeavesARemovalForReusedHandles) {
    auto& pins = NamePinning::instance();
    auto has = [&](const std::string& line) {
        const auto lines = pins.resolveLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    ASSERT_TRUE(pins.pin("Rp.Test", 443, "127.0.0.1"));
    ASSERT_TRUE(pins.pin("rp.test", 443, "127.0.0.2"));  // names are case-insensitive
    ASSERT_TRUE(pins.pin("rp.test", 8443, "::1"));
    EXPECT_EQ(pins.entries().size(), 2U);
    EXPECT_TRUE(has("rp.test:443:127.0.0.2"));
    EXPECT_FALSE(has("rp.test:443:127.0.0.1"));
    EXPECT_TRUE(has("rp.test:8443:[::1]"));
    EXPECT_FALSE(has("-rp.test:443"));

    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    ASSERT_NE(handle, nullptr);
    {
        auto applied = pins.applyTo(handle.get());
        EXPECT_TRUE(applied.ok());
        EXPECT_EQ(applied.lineCount(), pins.resolveLines().size());
    }
    EXPECT_TRUE(pins.unpin("RP.test", 443));
    EXPECT_FALSE(pins.unpin("rp.test", 443));
    EXPECT_FALSE(pins.unpin("rp.test", 70000));
    EXPECT_TRUE(has("-rp.test:443"));
    EXPECT_FALSE(has("rp.test:443:127.0.0.2"));
    // Removals come before every pin.
    const auto lines = pins.resolveLines();
    EXPECT_EQ(lines.back(), "rp.test:8443:[::1]");

    // Pinning the name again drops its pending removal.
    ASSERT_TRUE(pins.pin("rp.test", 443, "127.0.0.3"));
    EXPECT_FALSE(has("-rp.test:443"));
    EXPECT_TRUE(has("rp.test:443:127.0.0.3"));

    pins.clear();
    EXPECT_TRUE(pins.entries().empty());
    EXPECT_TRUE(has("-rp.test:443"));
    EXPECT_TRUE(has("-rp.test:8443"));
    EXPECT_FALSE(pins.applyTo(nullptr).ok());
}

TEST_F(NamePinningTest, ConcurrentPinsAndApplicationsAreSafe) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
            for (int i = 0; i < 100; ++i) {
                const std::string host = "h" + std::to_string(t) + ".test";
                NamePinning::instance().pin(host, static_cast<uint32_t>(1000 + i), "127.0.0.1");
                auto applied = NamePinning::instance().applyTo(handle.get());
                EXPECT_TRUE(applied.ok());
                if (i % 3 == 0) {
                    NamePinning::instance().unpin(host, static_cast<uint32_t>(1000 + i));
                }
                curl_easy_setopt(handle.get(), CURLOPT_RESOLVE, nullptr);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(NamePinning::instance().entries().size(), 4U * (100 - 34));
}
