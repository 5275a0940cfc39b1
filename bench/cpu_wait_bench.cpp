// How much processor the console uses while it waits: a WaitReady on a store
// that never gets ready, a CountDown of 10 s, and the idle direct-command
// console. The controller is a peer thread on a pseudo-terminal; the keys
// that end each wait come through a pipe that stands in for the keyboard.
// Usage: cpu_wait_bench [seconds per wait, default 10]
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Platform.h"

namespace {

// A store that is never ready: relay reads answer 0, DM reads 00000.
class NeverReadyStore {
 public:
  explicit NeverReadyStore(int master) : master_(master), thread_([this] { Run(); }) {}
  ~NeverReadyStore() {
    stop_ = true;
    thread_.join();
  }
  unsigned Lines() const { return lines_; }

 private:
  void Run() {
    std::string line;
    char buf[256];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      ssize_t n = read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r') {
          line.push_back(buf[i]);
          continue;
        }
        if (!line.empty()) {
          ++lines_;
          const char* a = line.rfind("RD DM", 0) == 0 ? "00000\r\n" : line.rfind("RD ", 0) == 0 ? "0\r\n"
                          : line == "CR"              ? "CC\r\n"
                                                      : "OK\r\n";
          (void)!write(master_, a, std::char_traits<char>::length(a));
        }
        line.clear();
      }
    }
  }
  int master_;
  std::atomic<bool> stop_{false};
  std::atomic<unsigned> lines_{0};
  std::thread thread_;
};

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int keyPipe = -1;

// Types keys into the keyboard pipe after a while, from another thread, a
// fifth of a second apart (as a person would: the quit question drops keys
// typed ahead of it).
std::thread TypeLater(double seconds, std::string keys) {
  return std::thread([seconds, keys] {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    for (char k : keys) {
      (void)!write(keyPipe, &k, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
}

template <typename F>
void Measure(const char* what, F&& wait, NeverReadyStore& store) {
  const unsigned lines0 = store.Lines();
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = ThreadCpuSeconds();
  wait();
  const double cpu = ThreadCpuSeconds() - c0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::fprintf(stderr, "%-34s wall %6.2f s  cpu %6.3f s  = %5.2f %% of one core  (%u commands)\n", what, wall, cpu,
               100.0 * cpu / wall, store.Lines() - lines0);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  setenv("VEKTON_COM1", name, 1);
  NeverReadyStore store(master);

  int fds[2];
  if (pipe(fds) != 0) return 1;
  dup2(fds[0], 0);  // the keyboard is the pipe: no terminal, no presenter
  keyPipe = fds[1];
  PlatformInit();
  InitAllUnits();
  ComPort = 1;
  if (KvOpenPort(1) != 0) {
    std::fprintf(stderr, "cannot open %s\n", name);
    return 1;
  }

  {
    std::thread t = TypeLater(seconds, "\x1bq");
    Measure("WaitReady (store never ready)", [] { WaitReady(1); }, store);
    t.join();
  }
  QuitRequested = false;
  ResetKeys();
  Measure("CountDown(10)", [] { CountDown(1, 10); }, store);
  {
    std::thread t = TypeLater(seconds, "\x1b");
    Measure("Direct commands, idle", [] { DirectCommands(); }, store);
    t.join();
  }
  ComClose(1);
  PlatformShutdown();
  return 0;
}
