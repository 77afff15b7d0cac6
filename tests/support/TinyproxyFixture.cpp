#include "support/TinyproxyFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/Dnsmasq.h"

extern char** environ;

namespace oxl::test {

namespace {
std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

bool acceptsConnections(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}
}  // namespace

TinyproxyFixture::TinyproxyFixture() : TinyproxyFixture(Options{}) {}

TinyproxyFixture::TinyproxyFixture(Options options) : options_(std::move(options)) {
    char pattern[] = "/tmp/oxl-tinyproxy-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return;
    }
    dir_ = pattern;
    logPath_ = dir_ + "/tinyproxy.log";
    outputPath_ = dir_ + "/output.txt";
    // A port found free can be taken before tinyproxy binds it; try a few.
    for (int attempt = 0; attempt < 5 && !isRunning(); ++attempt) {
        startOnce();
    }
}

TinyproxyFixture::~TinyproxyFixture() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool TinyproxyFixture::startOnce() {
    port_ = freeLoopbackPort();
    if (port_ == 0) {
        return false;
    }
    const std::string configPath = dir_ + "/tinyproxy.conf";
    {
        std::ofstream conf(configPath, std::ios::trunc);
        conf << "Port " << port_ << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "LogFile \"" << logPath_ << "\"\n"
             << "LogLevel Info\n"
             << "MaxClients 50\n"
             << "Allow 127.0.0.1\n";
        if (options_.connectPorts.empty()) {
            conf << "ConnectPort 0\n";
        }
        for (const uint16_t p : options_.connectPorts) {
            conf << "ConnectPort " << p << "\n";
        }
        if (!options_.basicAuthUser.empty()) {
            conf << "BasicAuth " << options_.basicAuthUser << " " << options_.basicAuthPassword << "\n";
        }
        if (!conf) {
            return false;
        }
    }
    std::vector<std::string> args = {OXL_TINYPROXY, "-d", "-c", configPath};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return false;  // exited: most likely the port was taken meanwhile
        }
        if (acceptsConnections(port_)) {
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

void TinyproxyFixture::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string TinyproxyFixture::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string TinyproxyFixture::proxyUrl() const {
    return "http://" + address();
}

std::string TinyproxyFixture::log() const {
    return readFile(logPath_) + readFile(outputPath_);
}

bool TinyproxyFixture::waitForLog(const std::string& text, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (readFile(logPath_).find(text) != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace oxl::test
