#include "http/CurlCallbacks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

namespace oxl::http {
namespace {

size_t feedHeader(HttpRequestData& data, std::string line) {
    return CurlCallbacks::headerCallback(line.data(), 1, line.size(), &data);
}

std::shared_ptr<Request> makeRequest(const std::string& url = "https://a.test/x") {
    return std::make_shared<Request>(url);
}

TEST(CurlCallbacksTest, OnlyTheFinalResponsesHeadersRemain) {
    auto data = std::make_shared<HttpRequestData>(makeRequest(), nullptr);
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    const std::vector<std::string> lines = {
        "HTTP/1.1 100 Continue\r\n",
        "\r\n",
        "HTTP/1.1 302 Found\r\n",
        "Location: https://a.test/y\r\n",
        "Set-Cookie: first=1\r\n",
        "\r\n",
        "HTTP/2 200 \r\n",
        "Content-Type:  text/plain \r\n",
        "X-Empty:\r\n",
        "X-Time: 12:30:01\r\n",
        "no colon secret here\r\n",
        "\r\n",
    };
    for (const auto& line : lines) {
        EXPECT_EQ(feedHeader(*data, line), line.size()) << line;
    }
    const Response& response = data->getResponse();
    EXPECT_EQ(response.responseCode, 200);
    const HttpHeaders expected = {{"Content-Type", "text/plain"}, {"X-Empty", ""}, {"X-Time", "12:30:01"}};
    EXPECT_EQ(*response.headers, expected);
    EXPECT_EQ(log.count("Unexpected condition: cannot parse header :[20 bytes]"), 1u);
    // Values off the allow-list, and lines no allow-list can clear, stay out of the log.
    EXPECT_FALSE(log.contains("12:30:01"));
    EXPECT_FALSE(log.contains("secret"));
    EXPECT_TRUE(log.contains("Content-Type: text/plain"));
}

TEST(CurlCallbacksTest, ARedirectClearsWhatWasDerivedFromTheOldHost) {
    struct Case {
        std::string name;
        bool provided;
        int model;
        bool follow;
        std::string status;
        bool fqdnCleared;
        bool referencesCleared;
        bool displayCleared;
    };
    const std::vector<Case> cases = {
        {"derived, followed 302", false, IdentityMatchModel::SOFT_MATCH, true, "302 Found", true, true, true},
        {"derived, followed 308", false, IdentityMatchModel::STRICT_MATCH, true, "308 Permanent", true, true,
         true},
        {"supplied, strict", true, IdentityMatchModel::STRICT_MATCH, true, "302 Found", false, false, false},
        {"supplied, soft", true, IdentityMatchModel::SOFT_MATCH, true, "301 Moved", true, true, false},
        {"not following", false, IdentityMatchModel::SOFT_MATCH, false, "302 Found", false, false, false},
        {"Location on a 201", false, IdentityMatchModel::SOFT_MATCH, true, "201 Created", false, false,
         false},
        {"Location on a 304", false, IdentityMatchModel::SOFT_MATCH, true, "304 Not Modified", false, false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = makeRequest();
        auto options = request->getOptions();
        options->followRedirects = c.follow;
        options->certIdentityValidationModel = c.model;
        if (c.provided) {
            options->useProvidedIdentity = true;
            options->identities = {"service.test"};
            options->identifierToDisplay = "Service";
        }
        HttpRequestData data(request, nullptr);
        // What the TLS hook fills in for the first host.
        CertIdentity& identity = data.certIdentity();
        identity.serverFqdn = "a.test";
        if (!c.provided) {
            identity.identifierToDisplay = "a.test";
            identity.identifierDerived = true;
            identity.referenceIdentifiers = {"a.test"};
            identity.referencesDerived = true;
        }
        const CertIdentity before = identity;

        feedHeader(data, "HTTP/1.1 " + c.status + "\r\n");
        feedHeader(data, "location: https://b.test/\r\n");

        EXPECT_EQ(identity.serverFqdn.empty(), c.fqdnCleared);
        EXPECT_EQ(identity.referenceIdentifiers.empty(), c.referencesCleared);
        EXPECT_EQ(identity.identifierToDisplay.empty(), c.displayCleared);
        if (!c.fqdnCleared) {
            EXPECT_EQ(identity.serverFqdn, before.serverFqdn);
        }
        if (!c.referencesCleared) {
            EXPECT_EQ(identity.referenceIdentifiers, before.referenceIdentifiers);
        }
    }
}

TEST(CurlCallbacksTest, CancelledRequestsAndMissingDataAbortEveryCallback) {
    auto request = makeRequest();
    HttpRequestData data(request, nullptr);
    char bytes[] = "HTTP/1.1 200 OK\r\n";
    const size_t n = sizeof(bytes) - 1;

    // Running normally first, so that the aborts below come from the cancellation alone.
    EXPECT_EQ(CurlCallbacks::headerCallback(bytes, 1, n, &data), n);
    EXPECT_EQ(CurlCallbacks::writeCallback(bytes, 1, n, &data), n);
    EXPECT_EQ(CurlCallbacks::progressCallback(&data, 100, 10, 0, 0), 0);

    request->cancel();
    oxl::test::LogCapture log(OXL_LEVEL_INFO);
    EXPECT_EQ(CurlCallbacks::headerCallback(bytes, 1, n, &data), 0u);
    EXPECT_EQ(CurlCallbacks::writeCallback(bytes, 1, n, &data), 0u);
    EXPECT_EQ(CurlCallbacks::progressCallback(&data, 100, 20, 0, 0), 1);
    EXPECT_EQ(CurlCallbacks::readCallback(bytes, 1, n, &data.getWrapper()),
              static_cast<size_t>(CURL_READFUNC_ABORT));
    EXPECT_TRUE(log.contains("has been canceled, not processing the response."));
    EXPECT_TRUE(log.contains("has been canceled, not processing the header."));
    EXPECT_TRUE(log.contains("Cancelling request " + data.formattedRequestID()));
    EXPECT_EQ(data.getResponse().body->size(), n);

    EXPECT_EQ(CurlCallbacks::headerCallback(bytes, 1, n, nullptr), 0u);
    EXPECT_EQ(CurlCallbacks::writeCallback(bytes, 1, n, nullptr), 0u);
    EXPECT_EQ(CurlCallbacks::progressCallback(nullptr, 0, 0, 0, 0), 1);
    EXPECT_EQ(CurlCallbacks::readCallback(bytes, 1, n, nullptr), static_cast<size_t>(CURL_READFUNC_ABORT));
    EXPECT_EQ(log.count("Private user object is NULL."), 4u);
    // A size that overflows is refused rather than trusted.
    EXPECT_EQ(CurlCallbacks::writeCallback(bytes, SIZE_MAX, 2, &data), 0u);
}

class RecordingProgress : public HttpClientListener {
  public:
    void onRequestFailed(unsigned int, HttpClientResult::Result) override {}
    void onRequestCompleted(unsigned int, Response&) override {}
    void onRequestProgress(unsigned int id, const ProgressData& progress) override {
        seen.emplace_back(id, progress);
    }
    std::vector<std::pair<unsigned int, ProgressData>> seen;
};

TEST(CurlCallbacksTest, ProgressUsesTheUploadFiguresForUploadsOnly) {
    for (const auto operation :
         {HTTPFileOperation::UPLOAD, HTTPFileOperation::DOWNLOAD, HTTPFileOperation::NONE}) {
        SCOPED_TRACE(::testing::PrintToString(operation));
        auto listener = std::make_shared<RecordingProgress>();
        auto request = makeRequest();
        request->setListener(listener);
        HttpRequestData data(request, nullptr, 0.0, operation, "/tmp/unused");
        EXPECT_EQ(CurlCallbacks::progressCallback(&data, 1000, 250, 4000, 3000), 0);
        ASSERT_EQ(listener->seen.size(), 1u);
        EXPECT_EQ(listener->seen[0].first, data.getRequestId());
        const bool upload = operation == HTTPFileOperation::UPLOAD;
        EXPECT_EQ(listener->seen[0].second.transferTotal, upload ? 4000 : 1000);
        EXPECT_EQ(listener->seen[0].second.transferDone, upload ? 3000 : 250);
        EXPECT_EQ(data.getWrapper().getBytesDone(), upload ? 3000 : 250);
    }
}

TEST(CurlCallbacksTest, FileCallbacksReadInBlocksAndRefuseWhatTheyCannotOpen) {
    oxl::test::TestPki scratch;
    const std::string file = scratch.writeText("in.txt", "abcdefghij");
    HttpRequestData upload(makeRequest(), nullptr, 0.0, HTTPFileOperation::UPLOAD, file);
    char buffer[4];
    std::string read;
    for (size_t got;
         (got = CurlCallbacks::readCallback(buffer, 1, sizeof(buffer), &upload.getWrapper())) > 0;) {
        ASSERT_LE(got, sizeof(buffer));
        read.append(buffer, got);
    }
    EXPECT_EQ(read, "abcdefghij");

    oxl::test::LogCapture log(OXL_LEVEL_ERROR);
    HttpRequestData missing(makeRequest(), nullptr, 0.0, HTTPFileOperation::UPLOAD,
                            scratch.dir() + "/absent");
    EXPECT_EQ(CurlCallbacks::readCallback(buffer, 1, sizeof(buffer), &missing.getWrapper()),
              static_cast<size_t>(CURL_READFUNC_ABORT));
    EXPECT_TRUE(log.contains("for reading, aborting transfer."));

    // Without a handle the status is unknown, so a download keeps the bytes in the response, not the file.
    const std::string target = scratch.dir() + "/out.bin";
    HttpRequestData download(makeRequest(), nullptr, 0.0, HTTPFileOperation::DOWNLOAD, target);
    char body[] = "payload";
    EXPECT_EQ(CurlCallbacks::writeCallback(body, 1, 7, &download), 7u);
    EXPECT_EQ(download.getResponse().getBodyAsString(), "payload");
    EXPECT_FALSE(std::ifstream(target).good());
}

}  // namespace
}  // namespace oxl::http
