#include "RunTool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace oxl::test {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A private scratch directory for the child's three streams, removed with its contents afterwards.
class Scratch {
  public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "oxl-run-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
    }
    ~Scratch() {
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool ok() const { return !dir_.empty(); }
    std::string path(const char* name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

}  // namespace

std::string oxlnetPath() {
    if (const char* env = std::getenv("OXLNET"); env != nullptr && *env != '\0') {
        return env;
    }
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    const auto candidate = self.parent_path().parent_path() / "oxlnet";
    return ::access(candidate.c_str(), X_OK) == 0 ? candidate.string() : std::string();
}

ToolRun runProgram(const std::vector<std::string>& argv, const std::string& input) {
    ToolRun run;
    Scratch scratch;
    if (argv.empty() || argv.front().empty() || !scratch.ok()) {
        return run;
    }
    const std::string in = scratch.path("in");
    const std::string out = scratch.path("out");
    const std::string err = scratch.path("err");
    {
        std::ofstream file(in, std::ios::binary);
        file << input;
    }
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) {
        cargs.push_back(a.data());
    }
    cargs.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (::posix_spawn(&pid, cargs[0], &actions, nullptr, cargs.data(), environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

ToolRun runOxlnet(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv{oxlnetPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, input);
}

ToolRun runOxlnet(const std::string& arguments, const std::string& input) {
    return runOxlnet(splitArguments(arguments), input);
}

std::vector<std::string> splitArguments(const std::string& arguments) {
    std::vector<std::string> result;
    std::string current;
    bool inWord = false;
    bool quoted = false;
    for (const char c : arguments) {
        if (quoted) {
            if (c == '\'') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '\'') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) {
                result.push_back(current);
                current.clear();
                inWord = false;
            }
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord) {
        result.push_back(current);
    }
    return result;
}

}  // namespace oxl::test
