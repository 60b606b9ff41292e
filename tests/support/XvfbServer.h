#pragma once

// A private Xvfb for tests that open real windows. It picks its own display number
// (-displayfd), so parallel test processes never collide, and is ended with the object
// or, should the test process crash, by the kernel when its parent dies; it never holds
// the test's output open. DISPLAY is pointed at it for this process and its children.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace testsupport
{

class XvfbServer
{
public:
  XvfbServer()
  {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    // The child's end must survive exec: a dup without close-on-exec.
    const int childFd = fcntl(fds[1], F_DUPFD, 10);
    const std::string fdArg = std::to_string(childFd);
    const char* argv[] = {"Xvfb", "-displayfd", fdArg.c_str(), "-screen", "0", "2560x1800x24", "-nolisten", "tcp",
                          "-noreset", nullptr};
    const pid_t parent = getpid();
    mPid = fork();
    if (mPid == 0)
    {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent)
        _exit(127);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      execvp("Xvfb", const_cast<char* const*>(argv));
      _exit(127);
    }
    close(childFd);
    close(fds[1]);
    if (mPid < 0)
    {
      close(fds[0]);
      return;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline)
    {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0)
        continue;
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0 || c == '\n')
        break;
      number += c;
    }
    close(fds[0]);
    if (number.empty())
    {
      Stop();
      return;
    }
    mDisplay = ":" + number;
    setenv("DISPLAY", mDisplay.c_str(), 1);
  }

  ~XvfbServer() { Stop(); }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Running() const { return !mDisplay.empty(); }
  const std::string& Display() const { return mDisplay; }

  // One server per test process, started on first use.
  static XvfbServer& Shared()
  {
    static XvfbServer server;
    return server;
  }

private:
  void Stop()
  {
    if (mPid > 0)
    {
      kill(mPid, SIGTERM);
      int status = 0;
      waitpid(mPid, &status, 0);
    }
    mPid = -1;
    mDisplay.clear();
  }

  pid_t mPid = -1;
  std::string mDisplay;
};

} // namespace testsupport
