// Sequential HTTPS GETs on loopback: BasicHttpClient::execute against bare libcurl doing the same transfers.
//
// Baseline: one easy handle reused for every transfer, as a caller without the library would write it: the
// same name pin (CURLOPT_RESOLVE), the server's root as CAINFO (OpenSSL checks chain and host name), TLS
// session cache off like the library, redirects followed, cookie engine on, body and headers collected in
// memory. The library adds per transfer: request data and its id, the edge policy, the handle reset and full
// reconfiguration, its trace callback, header parsing, its own certificate verifier on each new connection,
// response read-back (status, addresses, cookies) and the network event (to a reporter that drops it).
// Both sides collect the body into one buffer sized from the announced length. Both sides keep the connection
// alive between transfers (the server allows it), so each run pays one TLS handshake.
//
// Memory: the "https_small" and "https_1mib" pairs run in this process after GlobalInit, so both sides go
// through the library's zero-wiping libcurl memory callbacks. libcurl can be initialised once per process,
// so the "_plainmalloc" pairs run in a child: this program started again with --plainmalloc-child, which
// calls curl_global_init (plain malloc) before anything else, does the transfers and prints the time they
// took; the parent reports that time (manual time, one iteration of N transfers).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/NamePinning.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "support/HttpServerFixture.h"
#include "support/TestPki.h"

extern char** environ;

namespace {

constexpr const char* HOST = "bench.test";
constexpr int SMALL_TRANSFERS = 1000;
constexpr int BIG_TRANSFERS = 500;
constexpr size_t BIG_SIZE = 1024 * 1024;

std::string selfPath;

struct Target {
    std::string url;
    std::string trustFile;
    uint16_t port = 0;
    size_t size = 0;
};

// The server lives for the whole run; its certificate is for HOST under a fresh root.
struct Server {
    oxl::test::TestPki pki;
    oxl::test::TestPki::ServerChain chain = pki.makeServerChain(HOST);
    oxl::test::HttpServerFixture https{oxl::test::HttpServerFixture::Options{
        .https = true, .certFile = chain.certFile, .keyFile = chain.keyFile}};
    std::string small = std::string(96, 's');
    std::string big = std::string(BIG_SIZE, 'b');
    bool running = false;

    Server() {
        https.server().set_keep_alive_max_count(1000000);
        // Without it the header and body writes meet delayed ACKs and every transfer waits 40 ms.
        https.server().set_tcp_nodelay(true);
        https.onGet("/small", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(small, "text/plain");
        });
        https.onGet("/big", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(big, "application/octet-stream");
        });
        running = https.start();
    }
    Target target(const std::string& path, size_t size) const {
        return {std::string("https://") + HOST + ":" + std::to_string(https.port()) + path, chain.trustFile,
                https.port(), size};
    }
};

Server& server() {
    static Server s;
    return s;
}

// --- the two sides; each returns false on a failed transfer ---

// A client made for real use has a reporter; this one drops the events, as a host that ignores them would.
class NoopReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string&) override {}
    void hintNetworkStackNotReady(const std::string&) override {}
    void hintNetworkIsInUse(const std::string&) override {}
    void edgeInfrastructureEvent(const std::string&, const std::string&) override {}
};

class LibSide {
  public:
    explicit LibSide(const Target& t) : target_(t) {
        oxl::http::NamePinning::instance().pin(HOST, t.port, "127.0.0.1");
        oxl::cert::PlatformCertVerifier::setTrustFile(t.trustFile);
        client_ = oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
            nullptr,
            std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
                oxl::cert::CertVerifierFactory::createCertVerifier()),
            nullptr, std::make_shared<NoopReporter>());
    }
    bool transfer() {
        oxl::http::Response response;
        return client_->execute(std::make_shared<oxl::http::Request>(target_.url), response) ==
                   oxl::http::HttpClientResult::SUCCESS &&
               response.responseCode == 200 && response.body->size() == target_.size;
    }

  private:
    Target target_;
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client_;
};

// The body buffer a careful caller writes: sized once from the announced length.
struct Body {
    CURL* handle;
    std::vector<char> bytes;
};

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    if (body->bytes.empty()) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(body->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length > 0) {
            body->bytes.reserve(static_cast<size_t>(length));
        }
    }
    body->bytes.insert(body->bytes.end(), data, data + size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* headers) {
    static_cast<std::vector<std::string>*>(headers)->emplace_back(data, size * count);
    return size * count;
}

class BaseSide {
  public:
    explicit BaseSide(const Target& t) : target_(t), handle_(curl_easy_init()) {
        resolve_ = curl_slist_append(
            nullptr, (std::string(HOST) + ":" + std::to_string(t.port) + ":127.0.0.1").c_str());
    }
    ~BaseSide() {
        curl_easy_cleanup(handle_);
        curl_slist_free_all(resolve_);
    }
    BaseSide(const BaseSide&) = delete;
    BaseSide& operator=(const BaseSide&) = delete;

    bool transfer() {
        Body body{handle_, {}};
        std::vector<std::string> headers;
        curl_easy_setopt(handle_, CURLOPT_URL, target_.url.c_str());
        curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle_, CURLOPT_RESOLVE, resolve_);
        curl_easy_setopt(handle_, CURLOPT_CAINFO, target_.trustFile.c_str());
        curl_easy_setopt(handle_, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(handle_, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, collectHeader);
        curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &headers);
        long code = 0;
        return curl_easy_perform(handle_) == CURLE_OK &&
               curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code == 200 &&
               body.bytes.size() == target_.size;
    }

  private:
    Target target_;
    CURL* handle_;
    curl_slist* resolve_ = nullptr;
};

template <typename Side>
void inProcess(benchmark::State& state, const std::string& path, size_t size) {
    if (!server().running) {
        state.SkipWithError("the HTTPS server did not start");
        return;
    }
    Side side(server().target(path, size));
    if (!side.transfer()) {  // connection and handshake outside the timing
        state.SkipWithError("warm-up transfer failed");
        return;
    }
    for (auto _ : state) {
        if (!side.transfer()) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

// --- the plain-malloc child ---

template <typename Side>
int timeTransfers(const Target& target, int count) {
    Side side(target);
    if (!side.transfer()) {
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!side.transfer()) {
            return 1;
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::cout << std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() << std::endl;
    return 0;
}

// argv: --plainmalloc-child lib|base URL TRUST PORT SIZE COUNT
int childMain(char** argv) {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        return 1;
    }
    const Target target{argv[3], argv[4], static_cast<uint16_t>(std::stoul(argv[5])), std::stoul(argv[6])};
    const int count = std::stoi(argv[7]);
    const int status = std::strcmp(argv[2], "lib") == 0 ? timeTransfers<LibSide>(target, count)
                                                        : timeTransfers<BaseSide>(target, count);
    curl_global_cleanup();
    return status;
}

void inChild(benchmark::State& state, const char* side, const std::string& path, size_t size, int count) {
    if (!server().running) {
        state.SkipWithError("the HTTPS server did not start");
        return;
    }
    const Target target = server().target(path, size);
    const std::string output = server().pki.dir() + "/child.out";
    std::vector<std::string> args = {selfPath,
                                     "--plainmalloc-child",
                                     side,
                                     target.url,
                                     target.trustFile,
                                     std::to_string(target.port),
                                     std::to_string(size),
                                     std::to_string(count)};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        int status = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            waitpid(pid, &status, 0);
        }
        posix_spawn_file_actions_destroy(&actions);
        std::ifstream in(output);
        long long nanoseconds = 0;
        if (status != 0 || !(in >> nanoseconds) || nanoseconds <= 0) {
            state.SkipWithError("the plain-malloc child failed");
            break;
        }
        state.SetIterationTime(static_cast<double>(nanoseconds) / 1e9);
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.SetBytesProcessed(state.iterations() * count * static_cast<int64_t>(size));
}

void registerAll() {
    struct Case {
        const char* name;
        const char* path;
        size_t size;
        int count;
    };
    for (const Case& c : {Case{"https_small", "/small", 96, SMALL_TRANSFERS},
                          Case{"https_1mib", "/big", BIG_SIZE, BIG_TRANSFERS}}) {
        const std::string name = c.name;
        const std::string path = c.path;
        const size_t size = c.size;
        benchmark::RegisterBenchmark((name + "/base").c_str(),
                                     [=](benchmark::State& s) { inProcess<BaseSide>(s, path, size); })
            ->Iterations(c.count)
            ->UseRealTime();
        benchmark::RegisterBenchmark((name + "/lib").c_str(),
                                     [=](benchmark::State& s) { inProcess<LibSide>(s, path, size); })
            ->Iterations(c.count)
            ->UseRealTime();
        const int count = c.count;
        benchmark::RegisterBenchmark((name + "_plainmalloc/base").c_str(),
                                     [=](benchmark::State& s) { inChild(s, "base", path, size, count); })
            ->Iterations(1)
            ->UseManualTime();
        benchmark::RegisterBenchmark((name + "_plainmalloc/lib").c_str(),
                                     [=](benchmark::State& s) { inChild(s, "lib", path, size, count); })
            ->Iterations(1)
            ->UseManualTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::strcmp(argv[1], "--plainmalloc-child") == 0) {
        return childMain(argv);
    }
    selfPath = "/proc/self/exe";
    char resolved[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", resolved, sizeof(resolved) - 1);
    if (n > 0) {
        selfPath.assign(resolved, static_cast<size_t>(n));
    }
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "GlobalInit failed" << std::endl;
        return 1;
    }
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
