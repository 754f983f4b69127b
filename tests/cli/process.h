#pragma once
// Runs a program as a black box: its standard output and error captured apart, its
// environment changed per run, and optionally its standard input and error on a
// pseudo-terminal, the way an operator's terminal would be.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kordb::test {

struct RunOptions {
    // Variables set (or, with nullopt, removed) for this run on top of the test's environment.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    std::filesystem::path cwd;  // empty: the test's own
    // When set, standard input and error are a terminal; this line is typed at the first
    // "[y/N]" prompt seen there.
    std::optional<std::string> terminalAnswer;
    // Called with all standard output so far whenever more arrives, while the program runs.
    std::function<void(const std::string&)> onOutput;
};

struct Outcome {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;       // empty when standard error was the terminal
    std::string terminal;  // everything shown on the terminal
};

Outcome runProgram(const std::filesystem::path& exe, const std::vector<std::string>& args,
                   const RunOptions& options = {});

std::vector<std::string> lines(const std::string& text);

}  // namespace kordb::test
