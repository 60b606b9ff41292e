#pragma once

// Helper programs (zenity, xdg-open) started as child processes with an argument vector,
// never through a shell.

#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace iplug
{

// Starts args[0], searched on PATH, with args. stdin reads nothing and, given stdoutFd,
// stdout goes there. The child starts with no signal blocked and SIGPIPE and SIGTERM at
// their defaults, whatever the host did to its own. Returns the child, or -1 with errno.
pid_t SpawnChild(const std::vector<std::string>& args, int stdoutFd = -1);

// Ends a child that may still run and reaps it, so no zombie is left behind.
void EndChild(pid_t child);

// Said once per process and flag: the user learns why nothing opens without a flood of lines.
void ReportMissingProgram(std::once_flag& once, const char* program, const char* what);

} // namespace iplug
