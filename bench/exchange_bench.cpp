// Times KvExchange on the real serial path, on each kind of line the console
// opens, in one run:
//   pty      a pseudo-terminal (VEKTON_COM1 = its slave), a peer thread on
//            the master side;
//   tcp      raw TCP (tcp://), a peer thread serving a loopback socket;
//   rfc2217  RFC 2217 (rfc2217://), a scripted server in this process that
//            agrees to the options, confirms the line settings and answers
//            purges as ser2net does;
//   ser2net  RFC 2217 through a real ser2net in front of a pseudo-terminal
//            with the peer on its master (only when ser2net is installed).
// With a peer that answers each line at once an exchange costs one read
// time-out (the read asks for 50 bytes and the answer is shorter) plus the
// 1 ms wait: 53 ms at 9600 baud on every line. With a silent peer, two
// time-outs plus two 1 ms waits. Beside the exchange, the round trip itself:
// a command written and its 4-byte answer read back (the read returns when
// the bytes are in), which is where the lines differ.
// On the pseudo-terminal and raw TCP the same again with the line's recorder
// on and off in alternating rounds: the two medians side by side.
// Usage: exchange_bench [exchanges per line, default 200]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"
#include "platform/Serial.h"
#include "platform/Trace.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// The controller's side of a line: what comes in is handed over byte by
// byte, answers go out through send. Lines end at CR; an answering store
// replies "OK" CR LF to each.
class LineEnd {
 public:
  explicit LineEnd(bool answer) : answer_(answer) {}
  void SetAnswering(bool a) { answer_ = a; }
  unsigned Lines() const { return lines_; }

 protected:
  // One line byte from the console; true when an answer is owed now.
  bool Take(uint8_t b) {
    if (b != '\r') return false;
    ++lines_;
    return answer_;
  }

 private:
  std::atomic<bool> answer_;
  std::atomic<unsigned> lines_{0};
};

// The master side of a pseudo-terminal (its slave opened by the console or
// by ser2net).
class PtyPeer : public LineEnd {
 public:
  PtyPeer(int master, bool answer) : LineEnd(answer), master_(master), thread_([this] { Run(); }) {}
  ~PtyPeer() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    uint8_t buf[256];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) {
        usleep(1000);  // no slave open yet
        continue;
      }
      for (ssize_t i = 0; i < n; ++i)
        if (Take(buf[i])) (void)!write(master_, "OK\r\n", 4);
    }
  }
  int master_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A loopback listening socket on a free port.
int Listen(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  port = ntohs(a.sin_port);
  return fd;
}

// One client of a loopback server at a time; raw (the bytes are the line)
// or speaking Telnet with the COM Port Control option as ser2net does: its
// opening sent at once (DO and WILL BINARY and SUPPRESS-GO-AHEAD, DO
// COM-PORT-OPTION), every COM-PORT request answered with the value asked,
// 0xFF doubled in data both ways.
class SocketPeer : public LineEnd {
 public:
  SocketPeer(bool telnet, bool answer)
      : LineEnd(answer), telnet_(telnet), listen_(Listen(port_)), thread_([this] { Run(); }) {}
  ~SocketPeer() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int Port() const { return port_; }

 private:
  enum State { kData, kIac, kVerb, kSub, kSubIac };

  void Send(int fd, const std::string& s) { (void)!send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

  void Serve(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (telnet_) Send(fd, std::string("\xff\xfd\x00\xff\xfb\x00\xff\xfd\x03\xff\xfb\x03\xff\xfd\x2c", 15));
    State st = kData;
    std::string sub;
    uint8_t buf[512];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        const uint8_t b = buf[i];
        if (!telnet_) {
          if (Take(b)) Send(fd, "OK\r\n");
          continue;
        }
        switch (st) {
          case kData:
            if (b == 0xFF) st = kIac;
            else if (Take(b)) Send(fd, "OK\r\n");
            break;
          case kIac:
            if (b == 0xFF) {
              st = kData;
              if (Take(b)) Send(fd, "OK\r\n");
            } else if (b >= 251) {
              st = kVerb;  // the client's WILL/DO answers what we sent: no reply
            } else if (b == 250) {
              sub.clear();
              st = kSub;
            } else {
              st = kData;
            }
            break;
          case kVerb:
            st = kData;
            break;
          case kSub:
            if (b == 0xFF) st = kSubIac;
            else sub.push_back(static_cast<char>(b));
            break;
          case kSubIac:
            if (b == 0xFF) {
              sub.push_back(static_cast<char>(b));
              st = kSub;
              break;
            }
            st = kData;
            // COM-PORT-OPTION (44): the command plus 100, the value asked.
            if (b == 240 && sub.size() >= 2 && static_cast<uint8_t>(sub[0]) == 44) {
              std::string answer("\xff\xfa\x2c", 3);
              answer.push_back(static_cast<char>(static_cast<uint8_t>(sub[1]) + 100));
              for (size_t k = 2; k < sub.size(); ++k) {
                answer.push_back(sub[k]);
                if (static_cast<uint8_t>(sub[k]) == 0xFF) answer.push_back(sub[k]);
              }
              answer += "\xff\xf0";
              Send(fd, answer);
            }
            break;
        }
      }
    }
  }

  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Serve(fd);
      close(fd);
    }
  }

  bool telnet_;
  int port_ = 0;
  int listen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ser2net in front of a pseudo-terminal, started for the run and stopped
// after it; Port() is 0 when it is not installed or does not listen.
class Ser2net {
 public:
  Ser2net(const std::string& device) {
    std::string exe;
    for (const char* c : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
      if (access(c, X_OK) == 0) exe = c;
    if (exe.empty()) return;
    int port = 0;
    close(Listen(port));  // a free port; ser2net binds it a moment later
    char dir[] = "/tmp/exchange-bench.XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    const std::string conf = dir_ + "/ser2net.yaml";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
      std::fprintf(f,
                   "connection: &bench\n"
                   "  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                   "  connector: serialdev,%s,19200e81\n",
                   port, device.c_str());
      std::fclose(f);
    }
    std::fflush(stdout);  // the child must not write what is buffered a second time
    pid_ = fork();
    if (pid_ == 0) {
      const std::string log = dir_ + "/ser2net.out";
      if (FILE* out = std::freopen(log.c_str(), "w", stdout)) (void)out;
      if (FILE* err = std::freopen(log.c_str(), "a", stderr)) (void)err;
      execl(exe.c_str(), "ser2net", "-n", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Listening: a connection is taken (ser2net opens the device and
    // closes it again when this probe leaves).
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(port));
      const bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      if (up) {
        port_ = port;
        usleep(200000);  // the probe's connection closed behind it
        return;
      }
      usleep(25000);
    }
  }
  ~Ser2net() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
      unlink((dir_ + "/ser2net.yaml").c_str());
      unlink((dir_ + "/ser2net.out").c_str());
      rmdir(dir_.c_str());
    }
  }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

std::vector<double> TimeExchanges(int port, int count, std::string& lastAnswer) {
  std::vector<double> ms;
  ShortStr answer;
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    KvExchange(port, "RD DM200", answer);
    ms.push_back(MsBetween(t0, Clock::now()));
  }
  lastAnswer = std::string(answer.view());
  return ms;
}

// A command written and its answer read back: the read returns as soon as
// the 4 bytes are in. What the line itself costs, the read time-out aside.
std::vector<double> TimeRoundTrips(int port, int count) {
  std::vector<double> ms;
  const SerialHandle h = PortHandles[port];
  const uint8_t line[] = {'R', 'D', ' ', 'D', 'M', '2', '0', '0', '\r'};
  for (int i = 0; i < count; ++i) {
    SerialPurge(h);
    uint32_t written = 0, got = 0, total = 0;
    uint8_t buf[8];
    const auto t0 = Clock::now();
    // Byte by byte, as the exchange writes its command.
    for (uint8_t b : line) SerialWrite(h, &b, 1, written);
    while (total < 4) {
      if (!SerialRead(h, buf + total, 4 - total, got) || got == 0) break;
      total += got;
    }
    const auto t1 = Clock::now();
    if (total == 4) ms.push_back(MsBetween(t0, t1));
  }
  return ms;
}

void Report(const char* what, const std::vector<double>& ms, double expected) {
  if (ms.empty()) {
    std::printf("  %-26s no figures\n", what);
    return;
  }
  const double median = Percentile(ms, 0.5);
  // Exchanges to the hundredth of a millisecond, round trips to the microsecond.
  const char* form = expected > 0 ? "  %-26s median %7.2f ms  p90 %7.2f  min %7.2f  max %7.2f"
                                  : "  %-26s median %7.3f ms  p90 %7.3f  min %7.3f  max %7.3f";
  std::printf(form, what, median, Percentile(ms, 0.9), *std::min_element(ms.begin(), ms.end()),
              *std::max_element(ms.begin(), ms.end()));
  if (expected > 0) std::printf("  (%+.1f %% of %.0f ms)", 100.0 * (median - expected) / expected, expected);
  std::printf("\n");
}

// The same exchanges and round trips with the line's recorder on and off,
// in alternating rounds so that both see the same machine; each round that
// records starts a run of its own in a folder of its own.
void RecorderOnOff(int port, int count) {
  char tmpl[] = "/tmp/vekton-exchange-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  std::vector<double> on, off, tripsOn, tripsOff;
  std::string answer;
  const int rounds = 10;
  const int each = std::max(1, count / rounds);
  uint64_t bytes = 0;
  for (int r = 0; r < 2 * rounds; ++r) {
    const bool record = r % 2 == 0;
    if (record) {
      TraceSetup setup;
      setup.folder = std::string(tmpl) + "/" + std::to_string(r);
      TraceStart(setup);
      TraceHeader("bench", port);
    }
    auto ms = TimeExchanges(port, each, answer);
    auto trips = TimeRoundTrips(port, each);
    (record ? on : off).insert((record ? on : off).end(), ms.begin(), ms.end());
    (record ? tripsOn : tripsOff).insert((record ? tripsOn : tripsOff).end(), trips.begin(), trips.end());
    if (record) {
      const std::string file = TraceFilePath();
      TraceStop();
      if (FILE* f = std::fopen(file.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        bytes += static_cast<uint64_t>(std::ftell(f));
        std::fclose(f);
      }
    }
  }
  std::string err, file;
  int code = 0;
  if (TraceStopped(file, code)) std::printf("  recorder stopped: %s E%d\n", file.c_str(), code);
  Report("recorder on, KvExchange", on, ComReadTimeoutMs(9600) + 1.0);
  Report("recorder off, KvExchange", off, ComReadTimeoutMs(9600) + 1.0);
  Report("recorder on, round trip", tripsOn, 0);
  Report("recorder off, round trip", tripsOff, 0);
  if (!on.empty() && !off.empty()) {
    const double a = Percentile(on, 0.5), b = Percentile(off, 0.5);
    std::printf("  %-26s exchange median on/off %+.2f %%, %.0f bytes of trace per exchange\n", "",
                100.0 * (a - b) / b, static_cast<double>(bytes) / static_cast<double>(on.size() + tripsOn.size()));
  }
  std::system(("rm -rf " + std::string(tmpl)).c_str());
}

// One line: the exchanges with an answering peer, the round trips, then
// (when asked) a few with a silent one.
void Bench(const char* name, const std::string& setting, LineEnd& peer, int port, int count,
           bool silent) {
  setenv(("VEKTON_COM" + std::to_string(port)).c_str(), setting.c_str(), 1);
  const auto t0 = Clock::now();
  if (int rc = KvOpenPort(port); rc != 0) {
    std::printf("%s (%s): open failed with %d\n", name, setting.c_str(), rc);
    return;
  }
  const double openMs = MsBetween(t0, Clock::now());
  const double expected = ComReadTimeoutMs(9600) + 1.0;
  std::printf("%s (%s), opened in %.1f ms:\n", name, setting.c_str(), openMs);
  peer.SetAnswering(true);
  std::string answer;
  const unsigned before = peer.Lines();
  const auto ms = TimeExchanges(port, count, answer);
  const std::string label = "KvExchange x" + std::to_string(ms.size());
  Report(label.c_str(), ms, expected);
  std::printf("  %-26s answer \"%s\", %u lines at the peer\n", "", answer.c_str(),
              peer.Lines() - before);
  const unsigned linesBefore = peer.Lines();
  const auto trips = TimeRoundTrips(port, count);
  Report(("round trip x" + std::to_string(count)).c_str(), trips, 0);
  std::printf("  %-26s %zu answers read back, %u lines at the peer\n", "", trips.size(),
              peer.Lines() - linesBefore);
  if (silent) {
    peer.SetAnswering(false);
    const auto quiet = TimeExchanges(port, 20, answer);
    Report("KvExchange, silent x20", quiet, 2 * ComReadTimeoutMs(9600) + 2.0);
    peer.SetAnswering(true);
  }
  if (port <= 2) RecorderOnOff(port, count);
  ComClose(port);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::printf("KvExchange and the line's round trip, read time-out %u ms (9600 baud)\n",
              ComReadTimeoutMs(9600));

  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  {
    PtyPeer peer(master, true);
    Bench("pty", name, peer, 1, count, true);
  }
  {
    SocketPeer peer(false, true);
    Bench("tcp", "tcp://127.0.0.1:" + std::to_string(peer.Port()), peer, 2, count, true);
  }
  {
    SocketPeer peer(true, true);
    Bench("rfc2217, scripted server", "rfc2217://127.0.0.1:" + std::to_string(peer.Port()), peer,
          3, count, true);
  }
  {
    // ser2net holds the slave; the bench keeps its own slave descriptor open
    // (never read) so that the master never sees a hang-up between clients.
    int m2 = -1, s2 = -1;
    char dev[256] = {};
    if (openpty(&m2, &s2, dev, nullptr, nullptr) == 0) {
      PtyPeer peer(m2, true);
      Ser2net server(dev);
      if (server.Port() != 0)
        Bench("rfc2217, ser2net", "rfc2217://127.0.0.1:" + std::to_string(server.Port()), peer, 4,
              count, false);
      else
        std::printf("rfc2217, ser2net: not installed or not listening, skipped\n");
      close(s2);
      close(m2);
    }
  }
  close(slave);
  close(master);
  return 0;
}
