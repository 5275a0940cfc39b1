// Another program run on POSIX: posix_spawn straight into the program (no
// shell), in a process group of its own so that it can be stopped with
// every helper process it started, and waited for against a deadline.
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Process.h"

extern char** environ;

namespace {

uint64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// The child has ended but is not reaped yet: its process id, and so its
// group's, cannot be taken by another process meanwhile.
bool Ended(pid_t pid) {
  siginfo_t info{};
  for (;;) {
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid == pid;
    if (errno != EINTR) return true;  // nothing left to wait for
  }
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::string ProcessEnv(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  return v ? std::string(v) : std::string();
}

bool ProgramExists(std::string_view path) {
  const std::string p(path);
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string ProgramInPath(std::string_view name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string_view::npos) return ProgramExists(name) ? std::string(name) : std::string();
  const std::string list = ProcessEnv("PATH");
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    // An empty entry would mean the current folder: a program is never
    // taken from wherever the user happens to stand.
    if (end > start) {
      std::string path = list.substr(start, end - start);
      if (path.back() != '/') path += '/';
      path += name;
      if (ProgramExists(path)) return path;
    }
    start = end + 1;
  }
  return {};
}

std::string AbsoluteUtf8Path(std::string_view path) {
  if (!path.empty() && path.front() == '/') return std::string(path);
  std::vector<char> cwd(PATH_MAX + 1);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return {};
  std::string p(path);
  while (p.size() > 2 && p.compare(0, 2, "./") == 0) p.erase(0, 2);
  std::string abs(cwd.data());
  if (abs.back() != '/') abs += '/';
  return abs + p;
}

int TempFolderCreate(std::string& path) {
  std::string base = ProcessEnv("TMPDIR");
  if (base.empty()) base = "/tmp";
  if (base.back() != '/') base += '/';
  std::string name = base + "vekton-report.XXXXXX";
  // mkdtemp makes the folder with mode 0700.
  if (mkdtemp(name.data()) == nullptr) return errno;
  path = name;
  return 0;
}

void TempFolderRemove(std::string_view path) {
  if (path.empty()) return;
  nftw(std::string(path).c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath, int timeoutMs) {
  ProgramOutcome outcome;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  // The program starts with the signals as a fresh one has them, whatever
  // this one blocks or ignores.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (error != 0) {
    outcome.error = error;
    return outcome;
  }

  const uint64_t deadline = NowMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
  while (!Ended(pid)) {
    if (NowMs() >= deadline) {
      outcome.timedOut = true;
      break;
    }
    const timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  // Helpers the program left behind (a browser's renderers and crash
  // handler) go with it, whether it ended or was stopped: none of them may
  // outlive the run and hold on to its files.
  kill(-pid, SIGKILL);
  const int code = Reap(pid);
  if (!outcome.timedOut) outcome.exitCode = code;
  return outcome;
}
