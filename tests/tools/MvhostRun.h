#pragma once

// Runs the mvhost program as a user would, with its output and exit status.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

struct CliRun {
    int status = -1;
    std::string out;
};

// envPrefix goes before the command in the shell line, for variables of this run only.
inline CliRun Mvhost(const std::string& args, const std::string& envPrefix = "")
{
    // The plug-in inside checks for updates: only ever on a closed local port here.
    ::setenv("HALVORSTED_UPDATES_URL", "http://127.0.0.1:9/updates.json", 0);
    CliRun r;
    const std::string command = envPrefix + std::string(MVHOST_PATH) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        r.out.append(buf, n);
    }
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
