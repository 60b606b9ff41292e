#pragma once
// The mvhost subcommands. Each takes the arguments after its name and gives
// the exit status; main.cpp lists them. A new one is a function here, a
// source file of its own and a line in that list.

#include <string>
#include <vector>

namespace mvhost::cli {

int RunInfo(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
int RunEditor(const std::vector<std::string>& args);
int RunSnapshot(const std::vector<std::string>& args);

} // namespace mvhost::cli
