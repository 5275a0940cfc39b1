// The simulator's two figures:
//  1. answer latency of vekton-sim on its pseudo-terminal: a command line
//     written on the slave until its whole answer is back (median and 99th
//     percentile; target within 1 ms);
//  2. the store state machine in-process, driven like the random-access test
//     drives a store, through one hour of store time (target under 1 s wall).
// Usage: sim_bench [path to vekton-sim]; by default the one built beside it
// (../sim/vekton-sim), or $VEKTON_SIM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/Store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

std::string SimPath(int argc, char** argv) {
  if (argc > 1) return argv[1];
  if (const char* env = std::getenv("VEKTON_SIM")) return env;
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./sim_bench");
  dir = dir.substr(0, dir.rfind('/') + 1);
  return dir + "../sim/vekton-sim";
}

// Starts vekton-sim and returns its pid and the slave path it printed.
pid_t StartSim(const std::string& path, std::string& slave) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    close(out[0]);
    execl(path.c_str(), "vekton-sim", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  pollfd p{out[0], POLLIN, 0};
  while (text.find('\n') == std::string::npos && poll(&p, 1, 5000) > 0) {
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  if (text.rfind("PTY ", 0) != 0) return pid > 0 ? -pid : -1;
  slave = text.substr(4, text.find('\n') - 4);
  return pid;
}

void StopSim(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

bool PtyLatency(const std::string& simPath) {
  std::string slave;
  const pid_t pid = StartSim(simPath, slave);
  if (pid <= 0) {
    std::printf("pty latency: could not start %s\n", simPath.c_str());
    StopSim(-pid);
    return false;
  }
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) {
    std::printf("pty latency: cannot open %s\n", slave.c_str());
    StopSim(pid);
    return false;
  }
  termios tio{};  // the console's line: 9600 8E1, raw
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= PARENB | CS8 | CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &tio);

  const char command[] = "RD DM109\r";
  const char expected[] = "01234\r\n";
  std::vector<double> us;
  int bad = 0;
  for (int i = 0; i < 2200; ++i) {
    const auto t0 = Clock::now();
    if (write(fd, command, sizeof command - 1) != static_cast<ssize_t>(sizeof command - 1)) ++bad;
    std::string got;
    pollfd p{fd, POLLIN, 0};
    while (got.size() < sizeof expected - 1 && poll(&p, 1, 1000) > 0) {
      char buf[64];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    const auto t1 = Clock::now();
    if (got != expected) ++bad;
    if (i >= 200) us.push_back(Micros(t1 - t0));  // the first ones warm up
  }
  close(fd);
  StopSim(pid);
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p99 = us[us.size() * 99 / 100];
  std::printf("pty answer latency (RD DM109, %zu exchanges, %d bad answers)\n", us.size(), bad);
  std::printf("  median %8.1f us\n  p99    %8.1f us\n  max    %8.1f us\n", median, p99, us.back());
  std::printf("  target: within 1 ms -> %s\n", p99 <= 1000.0 && bad == 0 ? "met" : "MISSED");
  return p99 <= 1000.0 && bad == 0;
}

// Drives a store the way the random-access test does: for every access wait
// for Ready with relay polls 100 ms apart and a status poll every half
// second, then DM0, DM5 and the relay; a load into a random slot and the
// unload back, with lift and carousel moves between. Every command goes
// through the line, byte by byte, with the 52 ms a console exchange costs.
bool InProcessHour() {
  sim::Store store;
  std::vector<sim::Piece> pieces;
  uint64_t t = 0, lastStatus = 0;
  uint32_t rng = 12345;
  auto random = [&rng](int lo, int hi) {
    rng = rng * 1103515245u + 12345u;
    return lo + static_cast<int>((rng >> 8) % static_cast<uint32_t>(hi - lo + 1));
  };
  auto send = [&](const std::string& line) {
    pieces.clear();
    for (char c : line) store.Receive(static_cast<uint8_t>(c), t, pieces);
    store.Receive('\r', t, pieces);
    t += 53'000;
    return pieces.empty() ? std::string() : pieces[0].bytes;
  };
  auto waitReady = [&]() {
    for (;;) {
      if (t - lastStatus >= 510'000) {
        send("RD DM200");
        lastStatus = t;
      }
      if (send("RD 1915") == "1\r\n") return;
      t += 100'000;
    }
  };

  const uint64_t hour = 3600'000'000ull;
  const auto w0 = Clock::now();
  while (t < hour) {
    const int c = random(1, 9);
    const int l = random(1, store.LevelsOf(c));
    const char* in = "1904";
    const char* out = "1905";
    // The plate starts at 1.1; put it on the transfer station first.
    if (store.StationPlate() == 0 && store.ShovelPlate() == 0) {
      waitReady();
      send("WR DM0 65535");
      send("WR DM5 1");
      send("ST 1905");
    }
    for (const char* relay : {in, out}) {
      waitReady();
      send("WR DM0 " + std::to_string(65536 - c));
      send("WR DM5 " + std::to_string(l));
      send(std::string("ST ") + relay);
      waitReady();
      send("WR DM6 " + std::to_string(random(0, 1) * 12060));
      send("WR DM0 " + std::to_string(random(1, 9)));
    }
  }
  const double wall = Micros(Clock::now() - w0) / 1e6;
  const sim::Counts& n = store.counts();
  std::printf("in-process store, one hour of store time under steady access load\n");
  std::printf("  %u accesses, %u errors, %u carousel moves, %u command lines\n", n.accesses, n.errors,
              n.carrouselMoves, n.commands);
  std::printf("  wall time %.3f s (%.0fx real time)\n", wall, 3600.0 / wall);
  std::printf("  target: under 1 s -> %s\n", wall < 1.0 ? "met" : "MISSED");
  return wall < 1.0 && n.errors == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool a = PtyLatency(SimPath(argc, argv));
  const bool b = InProcessHour();
  return a && b ? 0 : 1;
}
