#include <gtest/gtest.h>

#include <string>

#include "HeapWatch.h"
#include "http/CurlCallbacks.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

TEST(ResponseBodyTest, AGrowingBodyWipesEveryBufferItOutgrows) {
    if (!oxl::test::HeapWatch::available()) {
        GTEST_SKIP() << "no heap watch in a sanitized build";
    }
    HttpRequestData data(std::make_shared<Request>("http://h.test/"), nullptr);
    constexpr char MARK = 'S';
    std::string chunk(1000, MARK);
    size_t releases = 0;
    size_t unwiped = 0;
    {
        oxl::test::HeapWatch heap(MARK);
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(CurlCallbacks::writeCallback(chunk.data(), 1, chunk.size(), &data), chunk.size());
        }
        releases = heap.releases();
        unwiped = heap.unwipedReleases();
    }
    const auto& body = data.getResponse().body;
    ASSERT_EQ(body->size(), 200u * chunk.size());
    EXPECT_EQ(std::string(body->begin(), body->end()), std::string(200u * chunk.size(), MARK));
    // 200 kB from 16 kB by doubling: several buffers were outgrown, none of them released unwiped.
    EXPECT_GE(releases, 3u);
    EXPECT_EQ(unwiped, 0u);
    // Growth is geometric, not one buffer per chunk.
    EXPECT_LE(releases, 8u);
}

TEST(ResponseBodyTest, TheLimitCountsEveryBodyByteOfTheAttempt) {
    struct Case {
        std::string name;
        size_t limit;
        std::vector<size_t> chunks;
        size_t accepted;  // chunks taken before the first refusal
    };
    const std::vector<Case> cases = {
        {"no limit", 0, {4096, 4096, 4096}, 3},    {"exactly the limit", 10, {4, 6}, 2},
        {"one byte over", 10, {4, 7}, 1},          {"one chunk over", 10, {11}, 0},
        {"refused stays refused", 10, {11, 1}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = std::make_shared<Request>("http://h.test/");
        request->getOptions()->maxResponseBodySize = c.limit;
        HttpRequestData data(request, nullptr);
        oxl::test::LogCapture log(OXL_LEVEL_ERROR);
        size_t accepted = 0;
        for (size_t chunk : c.chunks) {
            std::string bytes(chunk, 'b');
            if (CurlCallbacks::writeCallback(bytes.data(), 1, bytes.size(), &data) != chunk) {
                break;
            }
            ++accepted;
        }
        EXPECT_EQ(accepted, c.accepted);
        const bool refused = accepted < c.chunks.size();
        EXPECT_EQ(data.isResponseTooLarge(), refused);
        EXPECT_EQ(log.count("larger than the limit of"), refused ? 1u : 0u);
        size_t kept = 0;
        for (size_t i = 0; i < accepted; ++i) {
            kept += c.chunks[i];
        }
        EXPECT_EQ(data.getResponse().body->size(), kept);
    }
}

}  // namespace
}  // namespace oxl::http
