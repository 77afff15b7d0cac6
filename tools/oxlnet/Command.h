// Sub-commands of the oxlnet tool register themselves with OXLNET_COMMAND in their own file.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace oxlnet {

using Args = std::vector<std::string>;
// Returns the process exit status.
using CommandFn = std::function<int(const Args& args)>;

struct Command {
    std::string name;
    std::string usage;    // argument synopsis, e.g. "NAME [--dns-server ADDR:PORT]"
    std::string summary;  // one line
    CommandFn run;
};

const std::vector<Command>& commands();
bool registerCommand(Command command);

// Small helpers for argument handling shared by the commands.
// Finds "--name VALUE" and removes both from args; returns false when absent.
bool takeOption(Args& args, const std::string& name, std::string& value);
// Finds a flag "--name" and removes it; returns whether it was there.
bool takeFlag(Args& args, const std::string& name);
// Collects every "--name VALUE" occurrence.
std::vector<std::string> takeOptions(Args& args, const std::string& name);
// Prints "oxlnet: <message>" to standard error and returns exit status 2.
int usageError(const std::string& message);

}  // namespace oxlnet

#define OXLNET_CONCAT_INNER(a, b) a##b
#define OXLNET_CONCAT(a, b) OXLNET_CONCAT_INNER(a, b)
#define OXLNET_COMMAND(name, usage, summary, fn)                   \
    static const bool OXLNET_CONCAT(oxlnetRegistered_, __LINE__) = \
        ::oxlnet::registerCommand({name, usage, summary, fn})
