#include "http/CurlTransfer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "HeapWatch.h"
#include "http/CurlCallbacks.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

// Verbose mode stays on for every transfer: a trace line that will not be written must cost no allocation.
TEST(CurlTransferTest, TraceLinesThatAreNotWrittenCostNothing) {
    if (!oxl::test::HeapWatch::available()) {
        GTEST_SKIP() << "no heap watch in a sanitized build";
    }
    auto connection = std::make_shared<EasyCURLConnection>();
    HttpRequestData data(std::make_shared<Request>("http://h.test/"), nullptr);
    data.consumeEasyCURLConnection(connection, nullptr);
    struct Line {
        curl_infotype type;
        std::string text;
        bool phase;  // written at debug
    };
    const Line lines[] = {
        {CURLINFO_TEXT, "  Trying 127.0.0.1:80...\n", true},
        {CURLINFO_TEXT, "Added cookie sid=\"v\" for domain h, path /, expire 0\n", false},
        {CURLINFO_HEADER_IN, "Set-Cookie: sid=v\r\n", false},
        {CURLINFO_HEADER_OUT, "GET / HTTP/1.1\r\nHost: h.test\r\nAccept: */*\r\n\r\n", false},
        {CURLINFO_DATA_IN, "body", false},
    };
    for (const int level : {OXL_LEVEL_INFO, OXL_LEVEL_DEBUG}) {
        oxl::test::LogCapture log(level);
        for (const auto& line : lines) {
            SCOPED_TRACE(line.text);
            std::string bytes = line.text;
            size_t allocations = 0;
            {
                oxl::test::HeapWatch heap;
                CurlHttpUtils::traceCallback(nullptr, line.type, bytes.data(), bytes.size(), &data);
                allocations = heap.allocations();
            }
            if (line.phase && level == OXL_LEVEL_DEBUG) {
                EXPECT_GT(allocations, 0u);  // written, so the watch sees what building a line costs
            } else {
                EXPECT_EQ(allocations, 0u);
            }
        }
        size_t allocations = 0;
        {
            oxl::test::HeapWatch heap;
            CurlHttpUtils::logOperationTiming(data);
            allocations = heap.allocations();
        }
        EXPECT_EQ(allocations == 0, level == OXL_LEVEL_INFO);
        EXPECT_EQ(log.contains("timing, name lookup"), level == OXL_LEVEL_DEBUG);
    }
}

TEST(CurlTransferTest, OnlyTheAbortsOfOurCallbacksMeanCancelled) {
    enum Abort { NONE, WRITE, HEADER, PROGRESS };
    struct Case {
        std::string name;
        bool cancelled;
        Abort abort;  // the callback libcurl called after the cancellation
        CURLcode code;
        HttpClientResult::Result result;
        bool failsOver;  // a failover URL is left
    };
    const Case cases[] = {
        {"a real write error", false, NONE, CURLE_WRITE_ERROR, HttpClientResult::FILE_WRITE_ERROR, true},
        {"refused", false, NONE, CURLE_COULDNT_CONNECT, HttpClientResult::HOST_UNREACHABLE_ERROR, true},
        {"body callback saw it", true, WRITE, CURLE_WRITE_ERROR, HttpClientResult::REQUEST_CANCELLED, false},
        {"header callback saw it", true, HEADER, CURLE_WRITE_ERROR, HttpClientResult::REQUEST_CANCELLED,
         false},
        {"progress callback saw it", true, PROGRESS, CURLE_ABORTED_BY_CALLBACK,
         HttpClientResult::REQUEST_CANCELLED, false},
        // A cancelled request starts no new attempt, whatever ended the last one.
        {"timed out before any callback saw it", true, NONE, CURLE_OPERATION_TIMEDOUT,
         HttpClientResult::CONNECTION_TIMEOUT_ERROR, false},
        {"refused before any callback saw it", true, NONE, CURLE_COULDNT_CONNECT,
         HttpClientResult::HOST_UNREACHABLE_ERROR, false},
        {"completed although cancelled", true, NONE, CURLE_OK, HttpClientResult::SUCCESS, false},
    };
    auto clientData = HttpClientData::build(nullptr, nullptr);
    oxl::test::LogCapture log(OXL_LEVEL_ERROR);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = std::make_shared<Request>("http://h.test/");
        HttpRequestData data(request, nullptr);
        data.setFailoverUrls({"http://backup.test/"});
        if (c.cancelled) {
            request->cancel();
        }
        std::string bytes = "HTTP/1.1 200 OK\r\n";
        switch (c.abort) {
            case WRITE:
                ASSERT_EQ(CurlCallbacks::writeCallback(bytes.data(), 1, bytes.size(), &data), 0u);
                break;
            case HEADER:
                ASSERT_EQ(CurlCallbacks::headerCallback(bytes.data(), 1, bytes.size(), &data), 0u);
                break;
            case PROGRESS:
                ASSERT_EQ(CurlCallbacks::progressCallback(&data, 0, 0, 0, 0), 1);
                break;
            case NONE:
                break;
        }
        const auto result = CurlTransfer::evaluate(*clientData, c.code, data);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(CurlTransfer::failOver(*clientData, c.code, result, data), c.failsOver);
    }
}

TEST(CurlTransferTest, AClientWithoutReporterSaysSoOnceAtErrorLevel) {
    auto countErrors = [](const oxl::test::LogCapture& log) {
        size_t n = 0;
        for (const auto& record : log.records()) {
            n += record.level == OXL_LEVEL_ERROR &&
                 record.message.find("No network event reporter") != std::string::npos;
        }
        return n;
    };
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    for (int client = 0; client < 2; ++client) {
        auto clientData = HttpClientData::build(nullptr, nullptr);
        for (int transfer = 0; transfer < 3; ++transfer) {
            auto data =
                std::make_shared<HttpRequestData>(std::make_shared<Request>("http://h.test/"), nullptr);
            CurlTransfer::finish(*clientData, data, HttpClientResult::SUCCESS);
        }
    }
    EXPECT_EQ(countErrors(log), 2u);
    EXPECT_EQ(log.count("No network event reporter"), 6u);
}

// Whatever a caller's listener throws is logged with the request and never reaches the client's threads.
TEST(CurlTransferTest, AThrowingListenerStaysOnItsSide) {
    class Throwing : public HttpClientListener {
      public:
        void onRequestFailed(unsigned int, HttpClientResult::Result result) override {
            if (result == HttpClientResult::REQUEST_LOST) {
                throw std::runtime_error("listener broke");
            }
            throw 42;
        }
        void onRequestCompleted(unsigned int, Response&) override {}
    } listener;
    HttpRequestData data(std::make_shared<Request>("http://h.test/"), nullptr);
    oxl::test::LogCapture log(OXL_LEVEL_ERROR);
    for (const auto result : {HttpClientResult::REQUEST_LOST, HttpClientResult::UNKNOWN_ERROR}) {
        EXPECT_NO_THROW(CurlTransfer::notifyListener(
            listener, data, [result](HttpClientListener& l) { l.onRequestFailed(1, result); }));
    }
    EXPECT_EQ(log.count("The listener of request " + data.formattedRequestID() + " threw: listener broke"),
              1u);
    EXPECT_EQ(log.count("The listener of request " + data.formattedRequestID() + " threw"), 2u);
}

}  // namespace
}  // namespace oxl::http
