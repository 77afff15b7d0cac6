// 200 parallel HTTPS GETs of a small body on loopback: MultiHttpClientImpl against bare libcurl multi doing
// the same transfers.
//
// Baseline: one multi handle for the whole run and a new easy handle per transfer, as a caller without the
// library would write it, with the options the library sets that change the work done on the wire: the same
// name pin (CURLOPT_RESOLVE), the server's root as CAINFO (OpenSSL checks chain and host name), TLS session
// cache off, redirects followed, cookie engine on, no signals, the same connect time-out, body and headers
// collected in memory, a fixed connection cache of 256 like the library's. The loop is perform, read the
// finished transfers (each leaves the multi handle then), curl_multi_poll, until every transfer is done.
// The library adds per transfer: request data and its id, the hand-over to the enqueue pool, the edge policy
// and host check, the full configuration with trace logging callback, header parsing, its own certificate
// verifier on each new connection, the hand-over to the processing thread, read-back (status, addresses,
// cookies), the network event and the listener. Both keep connections alive between rounds (the server
// allows it), so a round after the warm-up pays no handshake.
//
// The two sides run interleaved, one round each per repetition (the order alternating), so that a change of
// load on the machine hits both alike. CPU time is the submitting thread's: the baseline does all its work
// there, the library on its own threads, so only the wall-time ratio compares like with like.
#include <curl/curl.h>

#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Interleaved.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/MultiHttpClientImpl.h"
#include "oxl/http/NamePinning.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "support/HttpServerFixture.h"
#include "support/TestPki.h"

namespace {

constexpr const char* HOST = "bench.test";
constexpr int PARALLEL = 200;
constexpr int REPETITIONS = 15;
constexpr size_t SIZE = 96;

struct Server {
    oxl::test::TestPki pki;
    oxl::test::TestPki::ServerChain chain = pki.makeServerChain(HOST);
    oxl::test::HttpServerFixture https{
        oxl::test::HttpServerFixture::Options{.https = true,
                                              .certFile = chain.certFile,
                                              .keyFile = chain.keyFile,
                                              // Every kept-alive connection holds a server thread.
                                              .threads = 2 * PARALLEL + 16}};
    std::string body = std::string(SIZE, 's');
    bool running = false;

    Server() {
        https.server().set_keep_alive_max_count(1000000);
        https.server().set_keep_alive_timeout(300);
        https.server().set_tcp_nodelay(true);
        // 200 handshakes at once may keep a client busy for a while between two of its steps.
        https.server().set_read_timeout(120);
        https.server().set_write_timeout(120);
        https.onGet("/small", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "text/plain");
        });
        running = https.start() && oxl::http::NamePinning::instance().pin(HOST, https.port(), "127.0.0.1");
    }
    std::string url() const {
        return std::string("https://") + HOST + ":" + std::to_string(https.port()) + "/small";
    }
};

Server& server() {
    static Server s;
    return s;
}

// --- the library ---

class CountingListener : public oxl::http::HttpClientListener {
  public:
    void onRequestFailed(unsigned int, oxl::http::HttpClientResult::Result result) override {
        std::cerr << "library: " << result << std::endl;
        done(false);
    }
    void onRequestCompleted(unsigned int, oxl::http::Response& response) override {
        const bool good = response.responseCode == 200 && response.body && response.body->size() == SIZE;
        if (!good) {
            std::cerr << "library: status " << response.responseCode << ", "
                      << (response.body ? response.body->size() : 0) << " bytes" << std::endl;
        }
        done(good);
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = 0;
        good_ = 0;
    }
    // True when all `count` ended well.
    bool wait(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return finished_ >= count; });
        return good_ == count;
    }

  private:
    void done(bool good) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        good_ += good ? 1 : 0;
        if (finished_ >= PARALLEL) {
            changed_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    int finished_ = 0;
    int good_ = 0;
};

// An application always gives the client a reporter; the events cost what they cost.
class DiscardingReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string&) override {}
    void hintNetworkStackNotReady(const std::string&) override {}
    void hintNetworkIsInUse(const std::string&) override {}
    void edgeInfrastructureEvent(const std::string&, const std::string&) override {}
};

class LibSide {
  public:
    LibSide() {
        oxl::cert::PlatformCertVerifier::setTrustFile(server().chain.trustFile);
        client_ = oxl::http::MultiHttpClientImpl::buildMultiHttpClientImpl(
            nullptr,
            std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
                oxl::cert::CertVerifierFactory::createCertVerifier()),
            std::make_shared<DiscardingReporter>());
        listener_ = std::make_shared<CountingListener>();
    }
    bool round() {
        listener_->reset();
        for (int i = 0; i < PARALLEL; ++i) {
            auto request = std::make_shared<oxl::http::Request>(server().url());
            request->setListener(listener_);
            unsigned int id = 0;
            if (client_->enqueueRequest(request, id) != oxl::http::HttpClientError::SUCCESS) {
                return false;
            }
        }
        return listener_->wait(PARALLEL);
    }

  private:
    std::shared_ptr<oxl::http::MultiHttpClientImpl> client_;
    std::shared_ptr<CountingListener> listener_;
};

// --- bare libcurl multi ---

size_t appendBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* headers) {
    static_cast<std::vector<std::string>*>(headers)->emplace_back(data, size * count);
    return size * count;
}

class BaseSide {
  public:
    BaseSide() : multi_(curl_multi_init()) {
        // As the library's multi handle: a fixed connection cache instead of four per added transfer.
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 256L);
        resolve_ = curl_slist_append(
            nullptr,
            (std::string(HOST) + ":" + std::to_string(server().https.port()) + ":127.0.0.1").c_str());
    }
    ~BaseSide() {
        curl_multi_cleanup(multi_);
        curl_slist_free_all(resolve_);
    }
    BaseSide(const BaseSide&) = delete;
    BaseSide& operator=(const BaseSide&) = delete;

    bool round() {
        struct Transfer {
            CURL* handle = nullptr;
            std::string body;
            std::vector<std::string> headers;
        };
        const std::string url = server().url();
        const std::string trust = server().chain.trustFile;
        std::vector<Transfer> transfers(PARALLEL);
        for (auto& t : transfers) {
            t.handle = curl_easy_init();
            curl_easy_setopt(t.handle, CURLOPT_URL, url.c_str());
            curl_easy_setopt(t.handle, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(t.handle, CURLOPT_RESOLVE, resolve_);
            curl_easy_setopt(t.handle, CURLOPT_CAINFO, trust.c_str());
            curl_easy_setopt(t.handle, CURLOPT_SSL_SESSIONID_CACHE, 0L);
            curl_easy_setopt(t.handle, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(t.handle, CURLOPT_COOKIEFILE, "");
            curl_easy_setopt(t.handle, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(t.handle, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
            curl_easy_setopt(t.handle, CURLOPT_WRITEFUNCTION, appendBody);
            curl_easy_setopt(t.handle, CURLOPT_WRITEDATA, &t.body);
            curl_easy_setopt(t.handle, CURLOPT_HEADERFUNCTION, collectHeader);
            curl_easy_setopt(t.handle, CURLOPT_HEADERDATA, &t.headers);
            curl_multi_add_handle(multi_, t.handle);
        }
        int running = 0;
        int good = 0;
        do {
            if (curl_multi_perform(multi_, &running) != CURLM_OK) {
                break;
            }
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
                long code = 0;
                if (message->msg == CURLMSG_DONE && message->data.result != CURLE_OK) {
                    std::cerr << "baseline: " << curl_easy_strerror(message->data.result) << std::endl;
                }
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                CURL* handle = message->easy_handle;
                if (message->data.result == CURLE_OK &&
                    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code == 200) {
                    ++good;
                }
                // Each transfer leaves the multi handle as it ends, as the library's do.
                curl_multi_remove_handle(multi_, handle);
            }
            if (running > 0 && curl_multi_poll(multi_, nullptr, 0, 20000, nullptr) != CURLM_OK) {
                break;
            }
        } while (running > 0);
        for (auto& t : transfers) {
            good -= t.body.size() == SIZE ? 0 : 1;
            curl_multi_remove_handle(multi_, t.handle);  // a no-op for those already removed
            curl_easy_cleanup(t.handle);
        }
        if (good != PARALLEL) {
            std::cerr << "baseline: " << good << " of " << PARALLEL << " transfers ended well" << std::endl;
        }
        return good == PARALLEL;
    }

  private:
    CURLM* multi_;
    curl_slist* resolve_ = nullptr;
};

// Made on first use, so that a filtered-out row starts no client; ended before libcurl is.
std::unique_ptr<BaseSide> baseSide;
std::unique_ptr<LibSide> libSide;

template <typename Side>
oxl::bench::Round roundsOf(std::unique_ptr<Side>& side) {
    return [&side](oxl::bench::Sample& sample) {
        if (!side) {
            side = std::make_unique<Side>();
        }
        return oxl::bench::timeOnThisThread(sample, [&] { return side->round(); });
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "GlobalInit failed" << std::endl;
        return 1;
    }
    if (std::getenv("OXL_BENCH_TRACE_TLS") != nullptr) {
        oxl::log::setLevel("oxl.SslUtils", OXL_LEVEL_INFO);
    }
    if (!server().running) {
        std::cerr << "the HTTPS server did not start" << std::endl;
        return 1;
    }
    oxl::bench::registerPair(
        {"multi_https_200_parallel", PARALLEL, REPETITIONS, 0, roundsOf(baseSide), roundsOf(libSide)});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    libSide.reset();
    baseSide.reset();
    return 0;
}
