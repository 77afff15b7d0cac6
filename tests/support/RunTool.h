// Runs a program (usually the oxlnet tool) as a child process without a shell and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace oxl::test {

struct ToolRun {
    // The exit code; -1 when the program could not be started or ended by a signal.
    int status = -1;
    std::string out;
    std::string err;
};

// OXLNET names the tool; without it, the build tree's tool beside the tests folder. Empty when neither
// exists.
std::string oxlnetPath();

// `input` becomes the program's standard input (empty: immediate end of file).
ToolRun runProgram(const std::vector<std::string>& argv, const std::string& input = {});
ToolRun runOxlnet(const std::vector<std::string>& args, const std::string& input = {});
// Arguments separated by blanks; '...' quotes one argument literally (so '' is an empty one).
ToolRun runOxlnet(const std::string& arguments, const std::string& input = {});

std::vector<std::string> splitArguments(const std::string& arguments);

}  // namespace oxl::test
