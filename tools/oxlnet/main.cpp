#include <algorithm>
#include <cstdio>
#include <iostream>

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

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" ||
        std::string(argv[1]) == "help") {
        oxlnet::printHelp(std::cout);
        return argc < 2 ? 2 : 0;
    }
    const std::string name = argv[1];
    for (const auto& c : oxlnet::commands()) {
        if (c.name == name) {
            oxlnet::Args args(argv + 2, argv + argc);
            return c.run(args);
        }
    }
    std::cerr << "oxlnet: unknown command '" << name << "'; see 'oxlnet --help'" << std::endl;
    return 2;
}
