#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "oxl/common/FipsUtils.h"
#include "oxl/common/SequenceNumber.h"
#include "support/LogCapture.h"

using oxl::common::FipsUtils;
using oxl::common::SequenceNumber;

TEST(SequenceNumberTest, CountsFromOneAndStopsAtTheLimit) {
    oxl::test::LogCapture logs;
    SequenceNumber::setCounterForTesting(0);
    EXPECT_EQ(SequenceNumber::getSequenceNumber(), 1u);
    EXPECT_EQ(SequenceNumber::getSequenceNumber(), 2u);

    SequenceNumber::setCounterForTesting(0xFFFFFFFCu);
    EXPECT_EQ(SequenceNumber::getSequenceNumber(), 0xFFFFFFFDu);
    EXPECT_EQ(SequenceNumber::getSequenceNumber(), 0xFFFFFFFEu);
    EXPECT_TRUE(logs.records().empty());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(SequenceNumber::getSequenceNumber(), 0xFFFFFFFEu);
    }
    EXPECT_EQ(
        logs.count("The counter has reached it's maximum limit. Returning maximum value.", "oxl.common"), 3u);
    EXPECT_EQ(logs.records().size(), 3u);

    // A counter set past the limit must not wrap to 0.
    SequenceNumber::setCounterForTesting(0xFFFFFFFFu);
    EXPECT_EQ(SequenceNumber::getSequenceNumber(), 0xFFFFFFFEu);
}

TEST(SequenceNumberTest, ConcurrentCallersGetDistinctNumbers) {
    SequenceNumber::setCounterForTesting(0);
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 20000;
    std::vector<std::vector<std::uint32_t>> seen(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < PER_THREAD; ++i) {
                seen[t].push_back(SequenceNumber::getSequenceNumber());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::vector<std::uint32_t> all;
    for (const auto& s : seen) {
        // each thread sees increasing numbers
        EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
        all.insert(all.end(), s.begin(), s.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(THREADS * PER_THREAD));
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], i + 1);
    }
}

TEST(FipsUtilsTest, FollowsOpenSslAndTheOverride) {
    FipsUtils::setFipsEnabledOverride(std::nullopt);
    ASSERT_FALSE(EVP_default_properties_is_fips_enabled(nullptr));
    EXPECT_FALSE(FipsUtils::isFipsEnabled());

    // Turning the default properties to FIPS is visible without a FIPS provider being loaded.
    ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 1), 1);
    const bool seenOn = FipsUtils::isFipsEnabled();
    ASSERT_EQ(EVP_default_properties_enable_fips(nullptr, 0), 1);
    EXPECT_TRUE(seenOn);
    EXPECT_FALSE(FipsUtils::isFipsEnabled());

    FipsUtils::setFipsEnabledOverride(true);
    EXPECT_TRUE(FipsUtils::isFipsEnabled());
    FipsUtils::setFipsEnabledOverride(false);
    EXPECT_FALSE(FipsUtils::isFipsEnabled());
    FipsUtils::setFipsEnabledOverride(std::nullopt);
    EXPECT_FALSE(FipsUtils::isFipsEnabled());
}
