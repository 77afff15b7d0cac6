#include <algorithm>
#include <cstdio>
#include <iostream>

#include "oxl/log/Log.h"
#include "oxlnet/Command.h"

namespace oxlnet {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> list;
    return list;
}

void printHelp(std::ostream& os) {
    os << "usage: oxlnet COMMAND [ARGS...]\n\ncommands:\n";
    auto list = commands();
    std::sort(list.begin(), list.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
    for (const auto& c : list) {
        os << "  " << c.name << (c.usage.empty() ? "" : " ") << c.usage << "\n      " << c.summary << "\n";
    }
}
}  // namespace

const std::vector<Command>& commands() {
    return registry();
}

bool registerCommand(Command command) {
    registry().push_back(std::move(command));
    return true;
}

bool takeOption(Args& args, const std::string& name, std::string& value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size()) {
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

std::vector<std::string> takeOptions(Args& args, const std::string& name) {
    std::vector<std::string> values;
    std::string v;
    while (takeOption(args, name, v)) {
        values.push_back(v);
    }
    return values;
}

bool takeFlag(Args& args, const std::string& name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end()) {
        return false;
    }
    args.erase(it);
    return true;
}

int usageError(const std::string& message) {
    std::cerr << "oxlnet: " << message << std::endl;
    return 2;
}

}  // namespace oxlnet

namespace {

// The library's own log lines (warnings, errors, with function names) are for -v; a command says what went
// wrong in one plain line of its own. Commands whose usage lists [-v] read the flag themselves for more.
oxlnet::Args applyVerbosity(const oxlnet::Command& command, oxlnet::Args args) {
    const auto flag = std::find(args.begin(), args.end(), "-v");
    const bool verbose = flag != args.end();
    oxl::log::setDefaultLevel(verbose ? OXL_LEVEL_WARN : OXL_LEVEL_ERROR - 1);
    if (verbose && command.usage.find("[-v]") == std::string::npos) {
        args.erase(flag);
    }
    return args;
}

int run(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" ||
        std::string(argv[1]) == "help") {
        oxlnet::printHelp(std::cout);
        return argc < 2 ? 2 : 0;
    }
    const std::string name = argv[1];
    for (const auto& c : oxlnet::commands()) {
        if (c.name == name) {
            return c.run(applyVerbosity(c, oxlnet::Args(argv + 2, argv + argc)));
        }
    }
    std::cerr << "oxlnet: unknown command '" << name << "'; see 'oxlnet --help'" << std::endl;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever a command meets, it ends with one line and a failure status, never with an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "oxlnet: " << (argc > 1 ? argv[1] : "") << ": " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "oxlnet: " << (argc > 1 ? argv[1] : "") << ": unexpected failure" << std::endl;
    }
    return 1;
}
