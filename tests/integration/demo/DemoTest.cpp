// oxlnet demo run as a process: its exit status, the narration, and what it leaves behind.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ToolRun {
    int status = -1;  // exit status, -1 when the process did not exit normally
    std::string out;
};

// Runs oxlnet with `args`, TMPDIR set to `tmpDir`, and collects its standard output.
ToolRun runOxlnet(const std::vector<std::string>& args, const std::string& tmpDir) {
    ToolRun run;
    const char* tool = std::getenv("OXLNET");
    if (tool == nullptr || *tool == '\0') {
        return run;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return run;
    }
    std::vector<std::string> argStrings{tool};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings{"TMPDIR=" + tmpDir};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("TMPDIR=", 0) != 0) {
            envStrings.emplace_back(*e);
        }
    }
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, tool, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return run;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        run.out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    return run;
}

// Processes whose command line contains every one of `parts`.
int countProcesses(const std::vector<std::string>& parts) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in("/proc/" + name + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool all = !cmdline.empty();
        for (const auto& part : parts) {
            all = all && cmdline.find(part) != std::string::npos;
        }
        count += all ? 1 : 0;
    }
    ::closedir(proc);
    return count;
}

class DemoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("OXLNET") == nullptr) {
            GTEST_SKIP() << "the oxlnet tool was not named (set OXLNET)";
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "oxl-demo-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        tmpDir_ = pattern;
    }
    void TearDown() override {
        if (!tmpDir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(tmpDir_, ignored);
        }
    }
    std::string tmpDir_;
};

TEST_F(DemoTest, RunsEveryStepInOrderAndLeavesNothingBehind) {
    const ToolRun run = runOxlnet({"demo"}, tmpDir_);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("   FAILED "), std::string::npos) << run.out;

    // Key lines, in the order the story tells them.
    const std::vector<std::string> expected = {
        "ok     internal network: not visible",
        "ok     edge: visible",
        "ok     TCP probe of the edge: Result Success",
        "ok     get_edge_config: SUCCESS",
        "cookie X-Auth (value not shown) expires 2",
        "ok     get_edge_refresh: SUCCESS",
        "-> SUCCESS, status 200",
        "ok     the internal page arrived through the edge: \"Welcome to the intranet.\"",
        "-> CERTIFICATE_VALIDATION_ERROR",
        "ok     the user was asked once",
        "ok     the edge ended the session",
        "-> SUCCESS, status 401",
        "ok     the sensing observer heard: internal network visible",
        "ok     internal network: visible",
        "internal record _pelko-zds 127.0.0.1:",
        "== global clean-up",
        "demo: 8 steps passed",
    };
    std::size_t from = 0;
    for (const auto& line : expected) {
        const std::size_t at = run.out.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing, or out of order: '" << line << "'\n" << run.out;
        from = at + line.size();
    }

    // dnsmasq was stopped and its log and the sandbox's trust file removed.
    std::smatch port;
    ASSERT_TRUE(std::regex_search(run.out, port, std::regex("dnsmasq on 127\\.0\\.0\\.1:([0-9]+)")))
        << run.out;
    EXPECT_EQ(countProcesses({"dnsmasq", "--port=" + port[1].str()}), 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(tmpDir_)) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << "left in TMPDIR: " << ::testing::PrintToString(left);
}

TEST_F(DemoTest, RejectsArgumentsWithoutRunning) {
    const ToolRun run = runOxlnet({"demo", "--fast"}, tmpDir_);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
}

}  // namespace
