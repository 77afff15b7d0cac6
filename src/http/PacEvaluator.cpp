#include "oxl/http/PacEvaluator.h"

#include <arpa/inet.h>
#include <duktape.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

#include "common/TextUtils.h"
#include "http/PacHelperScript.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
using oxl::common::text::toUpper;
using oxl::common::text::trim;
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

// Longest answer taken from a script; anything longer is not a proxy list.
constexpr std::size_t MAX_ANSWER_BYTES = 64 * 1024;
// Room for the C library (name look-ups) beyond what the child has mapped when it starts.
constexpr std::size_t ADDRESS_SPACE_SLACK = 64u * 1024u * 1024u;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer reserves terabytes of shadow memory and maps more as memory is touched, so an
// address-space limit would break it; the script heap stays bounded by its arena.
constexpr bool LIMIT_ADDRESS_SPACE = false;
#else
constexpr bool LIMIT_ADDRESS_SPACE = true;
#endif

// ---- child side ----
// The child of a multi-threaded parent may find any lock that another parent thread held at the fork
// still taken, the allocator's included. So the engine's heap is a private mapping managed here, messages
// are built in fixed buffers, and only name look-ups (when the script asks for them) reach the C library's
// allocator. Nothing is logged.

// Blocks are powers of two from 32 bytes up, carved from one mapping and recycled per size class.
class Arena {
  public:
    static constexpr std::size_t HEADER = 16;  // keeps payloads 16-byte aligned
    static constexpr unsigned MIN_CLASS = 5;
    static constexpr unsigned CLASSES = 48;

    bool map(std::size_t bytes) {
        void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) {
            return false;
        }
        base_ = static_cast<char*>(base);
        size_ = bytes;
        return true;
    }

    void* allocate(std::size_t size) {
        const unsigned c = classOf(size);
        if (c >= CLASSES) {
            return nullptr;
        }
        char* block = free_[c];
        if (block != nullptr) {
            std::memcpy(&free_[c], block + HEADER, sizeof(char*));
        } else {
            const std::size_t bytes = std::size_t{1} << c;
            if (bytes > size_ - used_) {
                return nullptr;
            }
            block = base_ + used_;
            used_ += bytes;
        }
        std::memcpy(block, &c, sizeof c);
        return block + HEADER;
    }

    void release(void* payload) {
        if (payload == nullptr) {
            return;
        }
        char* block = static_cast<char*>(payload) - HEADER;
        const unsigned c = classAt(block);
        std::memcpy(block + HEADER, &free_[c], sizeof(char*));
        free_[c] = block;
    }

    void* resize(void* payload, std::size_t size) {
        if (payload == nullptr) {
            return allocate(size);
        }
        if (size == 0) {
            release(payload);
            return nullptr;
        }
        const unsigned c = classAt(static_cast<char*>(payload) - HEADER);
        if (classOf(size) <= c) {
            return payload;
        }
        void* moved = allocate(size);
        if (moved != nullptr) {
            std::memcpy(moved, payload, (std::size_t{1} << c) - HEADER);
            release(payload);
        }
        return moved;
    }

  private:
    static unsigned classOf(std::size_t size) {
        unsigned c = MIN_CLASS;
        while (c < CLASSES && (std::size_t{1} << c) < size + HEADER) {
            ++c;
        }
        return c;
    }
    static unsigned classAt(const char* block) {
        unsigned c = 0;
        std::memcpy(&c, block, sizeof c);
        return c;
    }

    char* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t used_ = 0;
    char* free_[CLASSES] = {};
};

struct ChildContext {
    int fd = -1;
    Arena arena;
    const std::map<std::string, std::string>* pinned = nullptr;
};

void writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Writes "OK\n" or "ERR\n", then the prefix and the text (cut to MAX_ANSWER_BYTES), and ends the child.
[[noreturn]] void finish(int fd, const char* status, const char* prefix, const char* text, std::size_t length,
                         int code) {
    writeAll(fd, status, std::strlen(status));
    writeAll(fd, prefix, std::strlen(prefix));
    writeAll(fd, text, std::min(length, MAX_ANSWER_BYTES));
    ::_exit(code);
}

[[noreturn]] void fail(int fd, const char* prefix, const char* text) {
    finish(fd, "ERR\n", prefix, text, text != nullptr ? std::strlen(text) : 0, 0);
}

void* arenaAlloc(void* udata, duk_size_t size) {
    return static_cast<ChildContext*>(udata)->arena.allocate(size);
}

void* arenaRealloc(void* udata, void* ptr, duk_size_t size) {
    return static_cast<ChildContext*>(udata)->arena.resize(ptr, size);
}

void arenaFree(void* udata, void* ptr) {
    static_cast<ChildContext*>(udata)->arena.release(ptr);
}

void engineFatal(void* udata, const char* message) {
    const auto* c = static_cast<ChildContext*>(udata);
    finish(c->fd, "ERR\n", "fatal error in the script engine: ", message != nullptr ? message : "unknown",
           message != nullptr ? std::strlen(message) : 7, 3);
}

ChildContext* contextOf(duk_context* ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return static_cast<ChildContext*>(functions.udata);
}

// Engine callbacks below keep nothing with a destructor alive across engine calls: the engine unwinds with
// longjmp.
bool resolveIpv4(const ChildContext& c, const char* host, char* out, std::size_t outSize) {
    if (host[0] == '\0') {
        return false;
    }
    if (c.pinned != nullptr) {
        for (const auto& [name, address] : *c.pinned) {
            if (::strcasecmp(name.c_str(), host) != 0) {
                continue;
            }
            in_addr parsed{};
            return inet_pton(AF_INET, address.c_str(), &parsed) == 1 &&
                   inet_ntop(AF_INET, &parsed, out, static_cast<socklen_t>(outSize)) != nullptr;
        }
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) {
        return false;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    const bool ok = inet_ntop(AF_INET, &address->sin_addr, out, static_cast<socklen_t>(outSize)) != nullptr;
    freeaddrinfo(result);
    return ok;
}

bool firstInterfaceIpv4(char* out, std::size_t outSize) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0 ||
            (i->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        found = inet_ntop(AF_INET, &address->sin_addr, out, static_cast<socklen_t>(outSize)) != nullptr;
    }
    freeifaddrs(list);
    return found;
}

duk_ret_t jsDnsResolve(duk_context* ctx) {
    const char* host = duk_safe_to_string(ctx, 0);
    char address[INET_ADDRSTRLEN] = {};
    if (resolveIpv4(*contextOf(ctx), host, address, sizeof address)) {
        duk_push_string(ctx, address);
    } else {
        duk_push_null(ctx);
    }
    return 1;
}

duk_ret_t jsMyIpAddress(duk_context* ctx) {
    char address[INET_ADDRSTRLEN] = "127.0.0.1";
    if (!firstInterfaceIpv4(address, sizeof address)) {
        std::strcpy(address, "127.0.0.1");
    }
    duk_push_string(ctx, address);
    return 1;
}

// Size of this process's address space, read without the C library's stream functions.
std::size_t currentAddressSpace() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char buffer[64] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0) {
        return 0;
    }
    std::size_t pages = 0;
    for (ssize_t i = 0; i < n && buffer[i] >= '0' && buffer[i] <= '9'; ++i) {
        pages = pages * 10 + static_cast<std::size_t>(buffer[i] - '0');
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void limitChild(int keepFd) {
    // Inherited descriptors (other evaluations' pipes, sockets) must not stay open in this process.
    if (keepFd > 3) {
        ::close_range(3, static_cast<unsigned>(keepFd - 1), 0);
    }
    ::close_range(static_cast<unsigned>(keepFd + 1), ~0U, 0);
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (LIMIT_ADDRESS_SPACE) {
        // The arena is already mapped; this only bounds what the C library may add (name look-ups).
        const std::size_t base = currentAddressSpace();
        if (base > 0) {
            const rlim_t limit = base + ADDRESS_SPACE_SLACK;
            rlimit as{limit, limit};
            ::setrlimit(RLIMIT_AS, &as);
        }
    }
}

[[noreturn]] void runChild(int fd, const std::string& script, const std::string& url, const std::string& host,
                           const PacEvaluator::Options& options) noexcept {
    ChildContext context;
    context.fd = fd;
    context.pinned = &options.pinnedAddresses;
    if (!context.arena.map(options.memoryLimitBytes)) {
        fail(fd, "", "the script heap could not be mapped");
    }
    limitChild(fd);

    duk_context* ctx = duk_create_heap(arenaAlloc, arenaRealloc, arenaFree, &context, engineFatal);
    if (ctx == nullptr) {
        fail(fd, "", "the script engine could not be created");
    }
    duk_push_c_function(ctx, jsDnsResolve, 1);
    duk_put_global_string(ctx, "dnsResolve");
    duk_push_c_function(ctx, jsMyIpAddress, 0);
    duk_put_global_string(ctx, "myIpAddress");
    if (options.fixedTimeMs) {
        duk_push_number(ctx, static_cast<double>(*options.fixedTimeMs));
        duk_put_global_string(ctx, "__pacFixedTime");
    }
    if (duk_peval_string(ctx, detail::PAC_HELPER_SCRIPT) != 0) {
        fail(fd, "the helper functions failed to load: ", duk_safe_to_string(ctx, -1));
    }
    duk_pop(ctx);
    if (duk_peval_lstring(ctx, script.data(), script.size()) != 0) {
        fail(fd, "the script failed to load: ", duk_safe_to_string(ctx, -1));
    }
    duk_pop(ctx);
    duk_get_global_string(ctx, "FindProxyForURL");
    if (!duk_is_function(ctx, -1)) {
        fail(fd, "", "the script defines no function FindProxyForURL");
    }
    duk_push_lstring(ctx, url.data(), url.size());
    duk_push_lstring(ctx, host.data(), host.size());
    if (duk_pcall(ctx, 2) != 0) {
        fail(fd, "FindProxyForURL threw: ", duk_safe_to_string(ctx, -1));
    }
    if (!duk_is_string(ctx, -1)) {
        fail(fd, "FindProxyForURL returned a value that is not a string: ", duk_safe_to_string(ctx, -1));
    }
    duk_size_t length = 0;
    const char* answer = duk_get_lstring(ctx, -1, &length);
    finish(fd, "OK\n", "", answer, length, 0);
}

// ---- parent side ----

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_;
};

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) {
        return "the evaluation process was ended by signal " + std::to_string(WTERMSIG(status));
    }
    if (WIFEXITED(status)) {
        return "the evaluation process exited with code " + std::to_string(WEXITSTATUS(status)) +
               " without an answer";
    }
    return "the evaluation process ended without an answer";
}

bool isProxyAddress(const std::string& text) {
    if (text.empty() || text[0] == ':') {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
    });
}
}  // namespace

PacEvaluator::Result PacEvaluator::evaluate(const std::string& script, const std::string& url,
                                            const std::string& host, const Options& options) {
    try {
        return evaluateInChild(script, url, host, options);
    } catch (const std::exception& e) {
        Result failed;
        failed.error = std::string("the evaluation failed: ") + e.what();
        return failed;
    }
}

PacEvaluator::Result PacEvaluator::evaluateInChild(const std::string& script, const std::string& url,
                                                   const std::string& host, const Options& options) {
    Result result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = std::string("pipe failed: ") + std::strerror(errno);
        return result;
    }
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + options.timeLimit;

    // Reserved before the fork so that nothing between fork and reaping allocates (and so cannot throw
    // with a child left behind).
    std::string output;
    output.reserve(MAX_ANSWER_BYTES + 4096 + 8);

    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = std::string("fork failed: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        runChild(fds[1], script, url, host, options);
    }
    writeEnd.reset();

    bool stop = false;
    bool overLimit = false;
    bool eof = false;
    while (!stop) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{readEnd.get(), POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
        if (rc < 0 && errno != EINTR) {
            break;
        }
        if (rc <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n < 0) {
            stop = errno != EINTR && errno != EAGAIN;
        } else if (n == 0) {
            eof = true;
            stop = true;
        } else {
            output.append(buffer, static_cast<std::size_t>(n));
            if (output.size() > MAX_ANSWER_BYTES + 8) {
                overLimit = true;
                stop = true;
            }
        }
    }

    // The child exits right after writing; wait for it until the deadline, then end it.
    int status = 0;
    bool reaped = false;
    while (eof && !overLimit) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        // ECHILD: the host reaps children itself (SIGCHLD ignored or its own handler); the pid may already
        // belong to another process, so it must not be signalled.
        if (done == pid || (done < 0 && errno == ECHILD)) {
            reaped = true;
            break;
        }
        if (done < 0 && errno != EINTR) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    bool killed = false;
    if (!reaped) {
        killed = true;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    OXL_LOG_DEBUG(logger(), "PAC evaluation took " << elapsed.count() << " ms");

    if (overLimit) {
        result.error = "the answer of FindProxyForURL is too long";
    } else if (killed && !eof) {
        result.error =
            "the script did not finish within " + std::to_string(options.timeLimit.count()) + " ms";
    } else if (output.rfind("OK\n", 0) == 0) {
        result.success = true;
        result.answer = output.substr(3);
    } else if (output.rfind("ERR\n", 0) == 0) {
        result.error = output.substr(4);
    } else {
        result.error = describeStatus(status);
    }
    return result;
}

PacEvaluator::Answer PacEvaluator::parseAnswer(const std::string& answer) {
    try {
        return parse(answer);
    } catch (const std::exception&) {
        return Answer{};
    }
}

PacEvaluator::Answer PacEvaluator::parse(const std::string& answer) {
    Answer parsed;
    std::string::size_type pos = 0;
    while (pos <= answer.size()) {
        const auto end = answer.find(';', pos);
        const std::string entry =
            trim(answer.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end == std::string::npos ? answer.size() + 1 : end + 1;
        if (entry.empty()) {
            continue;
        }
        const auto blank = entry.find_first_of(" \t");
        const std::string keyword = toUpper(entry.substr(0, blank));
        const std::string address = blank == std::string::npos ? std::string() : trim(entry.substr(blank));
        if (keyword == "DIRECT" && address.empty()) {
            if (parsed.kind == Answer::INVALID) {
                parsed.kind = Answer::DIRECT;
            }
            parsed.entries.emplace_back();
            return parsed;  // DIRECT always works: nothing after it is ever needed
        }
        if ((keyword == "PROXY" || keyword == "HTTP" || keyword == "HTTPS") && isProxyAddress(address)) {
            parsed.kind = Answer::PROXIES;
            parsed.entries.push_back(keyword == "HTTPS" ? "https://" + address : address);
            continue;
        }
        OXL_LOG_DEBUG(logger(), "PAC answer entry skipped: '" << entry << "'");
    }
    return parsed;
}

}  // namespace oxl::http
