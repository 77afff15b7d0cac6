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
// Memory and interleaving: libcurl is initialised once per process, so each side runs in a child process of
// its own, started once and kept for the whole run: the library's child calls GlobalInit (the library's
// wiping memory callbacks, as an application runs), the baseline's child calls curl_global_init (plain
// malloc). The parent runs the server and hands the children rounds of transfers alternately; each child
// reports the wall time and its own process CPU time (every client thread, no server) of a round.
// `--serve` runs only the server (printing "PORT TRUST_FILE"), and `--child lib|base PORT TRUST_FILE` one
// side reading "PATH SIZE COUNT" lines, so that one side can be profiled by itself.
//
// Rows: small bodies, 1 MiB and 16 MiB bodies, and the cost of one response header and of one Set-Cookie:
// the CPU time a transfer with 200 extra headers (or 50 cookies, libcurl's most per response) takes beyond
// the small transfer, divided by their number.
#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Interleaved.h"

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
constexpr size_t SMALL_SIZE = 96;
constexpr size_t BIG_SIZE = 1024 * 1024;
constexpr size_t HUGE_SIZE = 16 * 1024 * 1024;
constexpr int EXTRA_HEADERS = 200;
// libcurl takes at most 50 Set-Cookie lines from one response.
constexpr int EXTRA_COOKIES = 50;

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
    std::string small = std::string(SMALL_SIZE, 's');
    std::string big = std::string(BIG_SIZE, 'b');
    std::string huge = std::string(HUGE_SIZE, 'h');
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
        https.onGet("/huge", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(huge, "application/octet-stream");
        });
        https.onGet("/headers", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < EXTRA_HEADERS; ++i) {
                res.set_header("X-Bench-" + std::to_string(i), "value-" + std::to_string(i * 7919));
            }
            res.set_content(small, "text/plain");
        });
        https.onGet("/cookies", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < EXTRA_COOKIES; ++i) {
                res.set_header("Set-Cookie", "c" + std::to_string(i) + "=v" + std::to_string(i * 7919) +
                                                 "; Path=/; Secure; HttpOnly");
            }
            res.set_content(small, "text/plain");
        });
        running = https.start();
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
        // Once per handle: each setting adds one more file to libcurl's list of cookie files to read, so
        // setting it per transfer made every transfer slower than the last.
        curl_easy_setopt(handle_, CURLOPT_COOKIEFILE, "");
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

// --- the child: one side, rounds read from standard input ---

Target targetFor(const std::string& port, const std::string& trust, const std::string& path, size_t size) {
    return {std::string("https://") + HOST + ":" + port + path, trust,
            static_cast<uint16_t>(std::stoul(port)), size};
}

// argv: --child lib|base PORT TRUST. Each input line "PATH SIZE COUNT" runs COUNT transfers (after one
// untimed warm-up per path) and answers "WALL_NS CPU_NS", or "fail".
template <typename Side>
int serveRounds(const std::string& port, const std::string& trust) {
    std::map<std::string, std::unique_ptr<Side>> sides;
    char path[256] = {};
    size_t size = 0;
    int count = 0;
    while (std::scanf("%255s %zu %d", path, &size, &count) == 3) {
        auto& side = sides[path];
        bool ok = true;
        if (!side) {
            side = std::make_unique<Side>(targetFor(port, trust, path, size));
            ok = side->transfer();
        }
        const double wall = oxl::bench::clockSeconds(CLOCK_MONOTONIC);
        const double cpu = oxl::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        for (int i = 0; ok && i < count; ++i) {
            ok = side->transfer();
        }
        const double cpuSpent = oxl::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        const double wallSpent = oxl::bench::clockSeconds(CLOCK_MONOTONIC) - wall;
        if (ok) {
            std::printf("%.0f %.0f\n", wallSpent * 1e9, cpuSpent * 1e9);
        } else {
            std::printf("fail\n");
        }
        std::fflush(stdout);
    }
    return 0;
}

int childMain(char** argv) {
    const bool lib = std::strcmp(argv[2], "lib") == 0;
    if (lib ? oxl::netutils::GlobalInit() != 0 : curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        return 1;
    }
    const int status = lib ? serveRounds<LibSide>(argv[3], argv[4]) : serveRounds<BaseSide>(argv[3], argv[4]);
    if (lib) {
        oxl::netutils::GlobalCleanup();
    } else {
        curl_global_cleanup();
    }
    return status;
}

// --- the parent: a child per side, driven through pipes ---

class Child {
  public:
    Child(const std::string& self, const char* side) {
        int toChild[2] = {-1, -1};
        int fromChild[2] = {-1, -1};
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        std::vector<std::string> args = {self, "--child", side, std::to_string(server().https.port()),
                                         server().chain.trustFile};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        in_ = fdopen(toChild[1], "w");
        out_ = fdopen(fromChild[0], "r");
    }
    ~Child() {
        if (in_ != nullptr) {
            std::fclose(in_);  // end of input ends the child
        }
        if (out_ != nullptr) {
            std::fclose(out_);
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool round(const std::string& path, size_t size, int count, oxl::bench::Sample& sample) {
        if (pid_ <= 0 || in_ == nullptr || out_ == nullptr) {
            return false;
        }
        std::fprintf(in_, "%s %zu %d\n", path.c_str(), size, count);
        std::fflush(in_);
        double wallNs = 0;
        double cpuNs = 0;
        if (std::fscanf(out_, "%lf %lf", &wallNs, &cpuNs) != 2) {
            return false;
        }
        sample.wall = wallNs * 1e-9;
        sample.cpu = cpuNs * 1e-9;
        return true;
    }

  private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
};

struct Children {
    std::shared_ptr<Child> base;
    std::shared_ptr<Child> lib;
};

oxl::bench::Round roundOf(std::shared_ptr<Child> child, std::string path, size_t size, int count) {
    return [=](oxl::bench::Sample& sample) { return child->round(path, size, count, sample); };
}

// Cost of one extra header per side and round: (transfer with extras - plain transfer) / extras.
void perHeader(benchmark::State& state, const Children& c, const std::string& path, int extras, int count,
               int rounds, double goal) {
    const std::vector<oxl::bench::Round> sides = {
        roundOf(c.base, "/small", SMALL_SIZE, count), roundOf(c.lib, "/small", SMALL_SIZE, count),
        roundOf(c.base, path, SMALL_SIZE, count), roundOf(c.lib, path, SMALL_SIZE, count)};
    std::vector<std::vector<oxl::bench::Sample>> samples;
    std::string error;
    if (!oxl::bench::runInterleaved(sides, rounds, samples, error)) {
        state.SkipWithError(error.c_str());
        for (auto _ : state) {
        }
        return;
    }
    auto extra = [extras](const oxl::bench::Sample& with, const oxl::bench::Sample& without) {
        return oxl::bench::Sample{(with.wall - without.wall) / extras, (with.cpu - without.cpu) / extras};
    };
    std::vector<oxl::bench::Sample> base, lib;
    std::vector<double> ratios;
    for (std::size_t r = 0; r < samples[0].size(); ++r) {
        base.push_back(extra(samples[2][r], samples[0][r]));
        lib.push_back(extra(samples[3][r], samples[1][r]));
        // CPU time: the difference of two wall times drowns in the machine's noise. A non-positive library
        // cost is noise too; it still counts, as a large ratio.
        ratios.push_back(lib.back().cpu > 0 ? base.back().cpu / lib.back().cpu : 99.0);
    }
    oxl::bench::report(state, base, lib, ratios, count, goal);
    oxl::bench::reportMeasure(state, oxl::bench::Measure::CPU);
}

std::unique_ptr<Children> children;

void registerAll(const std::string& self) {
    children = std::make_unique<Children>();
    children->base = std::make_shared<Child>(self, "base");
    children->lib = std::make_shared<Child>(self, "lib");
    struct Case {
        const char* name;
        const char* path;
        size_t size;
        int count;
        int rounds;
        double goal;
    };
    for (const Case& c : {Case{"https_small", "/small", SMALL_SIZE, 200, 15, 0.95},
                          Case{"https_1mib", "/big", BIG_SIZE, 30, 15, 0.98},
                          Case{"https_16mib", "/huge", HUGE_SIZE, 2, 11, 0.98}}) {
        oxl::bench::registerPair({c.name, static_cast<double>(c.count), c.rounds, c.goal,
                                  roundOf(children->base, c.path, c.size, c.count),
                                  roundOf(children->lib, c.path, c.size, c.count)});
    }
    // Within 1.5 times bare libcurl's cost per header: a ratio of at least 1 / 1.5.
    for (const auto& [name, path, extras] : {std::tuple{"per_response_header", "/headers", EXTRA_HEADERS},
                                             std::tuple{"per_set_cookie", "/cookies", EXTRA_COOKIES}}) {
        const std::string p = path;
        const int n = extras;
        benchmark::RegisterBenchmark(
            name, [p, n](benchmark::State& s) { perHeader(s, *children, p, n, 100, 15, 1 / 1.5); })
            ->Iterations(1)
            ->UseManualTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        return childMain(argv);
    }
    std::string self = "/proc/self/exe";
    char resolved[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", resolved, sizeof(resolved) - 1);
    if (n > 0) {
        self.assign(resolved, static_cast<size_t>(n));
    }
    if (!server().running) {
        std::cerr << "the HTTPS server did not start" << std::endl;
        return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--serve") == 0) {
        // For profiling one side alone (e.g. a child under callgrind): serve until standard input closes.
        std::printf("%u %s\n", static_cast<unsigned>(server().https.port()),
                    server().chain.trustFile.c_str());
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    registerAll(self);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    children.reset();
    return 0;
}
