#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "http/CurlCallbacks.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "support/LogCapture.h"

// While a test watches, every block this program frees is checked for bytes left unwiped: an outgrown body
// buffer must be all zeros when it goes back to the heap.
namespace {
std::atomic<bool> watching{false};
std::atomic<size_t> watchedReleases{0};
std::atomic<size_t> unwipedReleases{0};
constexpr char MARK = 'S';

void* allocate(std::size_t size) {
    void* block = std::malloc(sizeof(std::size_t) * 2 + (size == 0 ? 1 : size));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    return static_cast<char*>(block) + sizeof(std::size_t) * 2;
}

void release(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    char* block = static_cast<char*>(pointer) - sizeof(std::size_t) * 2;
    if (watching.load()) {
        const std::size_t size = *reinterpret_cast<std::size_t*>(block);
        const char* bytes = static_cast<const char*>(pointer);
        bool marked = false;
        for (std::size_t i = 0; i < size && !marked; ++i) {
            marked = bytes[i] == MARK;
        }
        watchedReleases.fetch_add(1);
        if (marked) {
            unwipedReleases.fetch_add(1);
        }
    }
    std::free(block);
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void operator delete(void* pointer) noexcept {
    release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    release(pointer);
}

namespace oxl::http {
namespace {

TEST(ResponseBodyTest, AGrowingBodyWipesEveryBufferItOutgrows) {
    HttpRequestData data(std::make_shared<Request>("http://h.test/"), nullptr);
    std::string chunk(1000, MARK);
    watchedReleases = 0;
    unwipedReleases = 0;
    watching = true;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(CurlCallbacks::writeCallback(chunk.data(), 1, chunk.size(), &data), chunk.size());
    }
    watching = false;
    const auto& body = data.getResponse().body;
    ASSERT_EQ(body->size(), 200u * chunk.size());
    EXPECT_EQ(std::string(body->begin(), body->end()), std::string(200u * chunk.size(), MARK));
    // 200 kB from 16 kB by doubling: several buffers were outgrown, none of them released unwiped.
    EXPECT_GE(watchedReleases.load(), 3u);
    EXPECT_EQ(unwipedReleases.load(), 0u);
    // Growth is geometric, not one buffer per chunk.
    EXPECT_LE(watchedReleases.load(), 8u);
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
