// A child process under test: what it reports on a pipe (or writes to its
// terminal), read for a bounded time, and its end, waited for a bounded time.
// Header only: the POSIX backend's tests that fork include it.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

// Reads from fd until want bytes are in, ms pass, or the other end closes.
inline std::string ReadReport(int fd, size_t want, int ms) {
  std::string out;
  char buf[4096];
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < want) {
    const int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// Exit code of the child (1000 + the signal when one ended it), or -1 if it
// did not end within ms; then it is killed.
inline int WaitExit(pid_t pid, int ms) {
  for (int i = 0; i < ms / 5; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    usleep(5000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}
