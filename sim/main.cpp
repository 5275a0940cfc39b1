// vekton-sim: the simulated store on a pseudo-terminal, on the real clock,
// and with --listen on a raw TCP port beside it.
//
// One thread, one poll loop: bytes from the console go into the store as
// each command line ends, its answers go out when they are due (at once,
// unless a fault delays them), and between bytes the loop sleeps until the
// next answer, the next mechanical event, the next connection or the next
// control command.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/store.h"

namespace {

const char kHelp[] = R"(Usage: vekton-sim [options]

A simulated Vekton plate store and its KV-PLC on a pseudo-terminal. It prints
  PTY <slave path>
on stdout once the port is ready; point the console at it, for example with
VEKTON_COM1=<slave path> (or use --link). With --listen the same controller
also answers on a TCP port. Ends cleanly on SIGINT or SIGTERM.

Options:
  --profile NAME     the store to simulate (default: standard); see below
  --list-profiles    print the profiles and exit
  --speed F          mechanics F times faster than real time (default 1);
                     answers on the line are always prompt
  --link PATH        leave a symlink to the slave at PATH (replaced if it
                     exists, removed at exit)
  --listen HOST:PORT also be a raw TCP server, as a serial device server in
                     raw mode or a controller's own Ethernet host link: the
                     bytes on the socket are the bytes on the line. HOST is
                     a name, an IPv4 address or an [IPv6] one in brackets
                     (empty: every address); PORT 0 takes a free port. Once
                     it listens it prints
                       TCP <address>:<port>
                     on stdout, e.g. "TCP 127.0.0.1:40123" or "TCP [::1]:5000".
                     One client at a time: a new client replaces the old
                     one, whose connection is closed. The pseudo-terminal
                     works all the while; each side has a command line of
                     its own, and an answer goes back to the side that sent
                     the line. A client that half-closes still gets the
                     answers it is owed, then the connection is closed.
                     A port in use or a host that does not resolve ends the
                     simulator with status 2 before the pseudo-terminal is
                     made.
  --trace FILE       log every line received and every answer sent:
                       <seconds since start, 6 decimals> RX <bytes>
                       <seconds since start, 6 decimals> TX <bytes>
                     bytes escaped as \r \n \\ and \xHH for bytes outside
                     0x20..0x7E, so a typed RD DM0 shows as "RX RD DM0\r";
                     one event per line, flushed as written; lines of both
                     sides alike. With --listen, the TCP clients too:
                       <seconds> TCP connect <address>:<port>
                       <seconds> TCP close <address>:<port> <why>
                     why: replaced, peer-closed, vanish, exit, or the
                     system's error text
  --accesses FILE    record every plate access the store performs (relays
                     1904..1909), one line each when it ends:
                       <n> <relay> <DM0> <cassette> <level> <start> <plate> <ready> <result>
                     times in seconds since start (6 decimals) when the relay
                     command arrived, PlateReady came on and the access ended
                     ("-" = never); result: ok, slot-empty, slot-full,
                     shovel-empty, shovel-full, station-empty, station-full,
                     bad-address (those raise ErrorFlag 1814) or aborted
                     (cut short by a system reset)
  --fault NAME[:MS]  start with a fault (see below)
  --control PATH     read commands from PATH while running: a FIFO (created
                     when PATH does not exist, removed at exit) or a regular
                     file that is read from its start and then followed
  --plates LAYOUT    plates in the store at start: empty, one (1.1, default),
                     three (1.1 to 1.3), full (every slot)
  --seed N           seed of the mechanical jitter and line noise (default 1)
  --help, -h         this text
  --version          the program's version

Faults (at start with --fault, while running with "fault NAME [MS]"; they
are the store's and the line's, so they hold for the pseudo-terminal and the
TCP client alike):
  none       a healthy store and line
  silent     the line is dead: commands are neither heard nor answered
  slow       every answer comes MS late (default 80 ms: past one 52 ms read)
  split      every answer in two pieces MS apart (default 60 ms: more than
             one read time-out)
  garbage    three stray bytes of line noise before every answer
  error      every command but CR and CQ is refused with "E1"
  notready   the store hangs: what moves finishes, nothing new starts, and
             Ready (relay 1915) stays off until the fault is cleared
  vanish     the port goes away: the pseudo-terminal is closed and the link
             removed; a later fault command opens a new one, prints a new
             "PTY <path>" line and points the link at it (started with
             --fault vanish, the first line reads "PTY -"). With --listen
             the TCP client's connection is closed too and new ones are
             refused; the port stays reserved, and when the fault is
             cleared it listens again on the same port and prints a new
             "TCP <address>:<port>" line (started with --fault vanish:
             "TCP -" first)

Control commands (one per line; blank lines and lines starting with # are
skipped):
  fault NAME [MS]    switch the fault as above
  speed F            change the speed factor
  plates LAYOUT      lay the plates out anew (shovel and station emptied)
  exec LINE          act on a host-link command line as if it came from the
                     line (answer on stderr), e.g. "exec WR DM211 0"
  quit               end the simulator

On the line the store answers like a KV-PLC: CR -> CC, CQ -> CF, WR DMn v ->
OK, ST n / RS n -> OK, RD DMn -> five digits, RD n -> 0 or 1 (relay n =
channel * 100 + bit 00..15), RD Tn -> "c,ccccc,ppppp" (contact, current and
preset in 10 ms units), E0 for a device that does not exist, E1 for anything
else it cannot take (unknown command, bad syntax, binary bytes, a line over
255 characters). An empty line gets no answer.
)";

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Seconds(uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                static_cast<unsigned long long>(us % 1000000));
  return text;
}

bool ParseFaultArg(std::string_view text, sim::Fault& f, uint32_t& ms) {
  ms = 0;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string num(text.substr(colon + 1));
    char* end = nullptr;
    const unsigned long v = std::strtoul(num.c_str(), &end, 10);
    if (num.empty() || *end != '\0' || v > 600000) return false;
    ms = static_cast<uint32_t>(v);
    text = text.substr(0, colon);
  }
  return sim::ParseFault(text, f);
}

// --- the TCP side -----------------------------------------------------------

// HOST:PORT or [IPv6]:PORT; HOST may be empty (every address), PORT is a
// decimal number up to 65535 (0: any free port).
bool SplitHostPort(std::string_view text, std::string& host, std::string& port) {
  size_t colon;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = std::string(text.substr(1, close - 1));
    if (host.empty()) return false;
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    host = std::string(text.substr(0, colon));
    // A bare IPv6 address would be ambiguous with its port: brackets, please.
    if (host.find(':') != std::string::npos) return false;
  }
  port = std::string(text.substr(colon + 1));
  if (port.empty() || port.size() > 5) return false;
  unsigned long value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= 65535;
}

// "127.0.0.1:40123" or "[::1]:40123".
std::string AddressText(const sockaddr* sa, socklen_t len) {
  char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
  if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0) return "?";
  return sa->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + serv : std::string(host) + ":" + serv;
}

struct Endpoint {
  sockaddr_storage addr{};
  socklen_t len = 0;
};

// A socket bound to the endpoint, listening or only holding the port (a
// bound socket that does not listen refuses connections). -1 and errno on
// failure.
int BoundSocket(const Endpoint& at, bool listening) {
  const int fd = socket(at.addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Without it a restart (or coming back from a vanish) would wait for the
  // last client's connection to leave TIME_WAIT.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&at.addr), at.len) != 0 || (listening && listen(fd, 8) != 0)) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Resolves HOST and binds the first of its addresses that can be bound; a
// port in use ends the search, as the next address would only hide it.
// Returns the socket (its real endpoint in `at`) or -1 with the reason.
int OpenListener(const std::string& host, const std::string& port, bool listening, Endpoint& at, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    why = "cannot resolve \"" + host + "\": " + (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
    return -1;
  }
  int fd = -1;
  why = "no address to listen on";
  for (addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof at.addr) continue;
    Endpoint e;
    std::memcpy(&e.addr, ai->ai_addr, ai->ai_addrlen);
    e.len = static_cast<socklen_t>(ai->ai_addrlen);
    fd = BoundSocket(e, listening);
    if (fd < 0) {
      why = "cannot listen on " + AddressText(ai->ai_addr, ai->ai_addrlen) + ": " + std::strerror(errno);
      if (errno == EADDRINUSE) break;
    }
  }
  freeaddrinfo(list);
  if (fd < 0) return -1;
  at.len = sizeof at.addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&at.addr), &at.len);  // the port 0 chose
  return fd;
}

// --- the simulator ----------------------------------------------------------

// Where a command line came from, and so where its answer goes.
enum class Side : uint8_t { Pty, Tcp };

// Each side keeps this much of a line, however long it gets (the rest is
// past the controller's limit anyway and only makes it an E1).
constexpr size_t kKeepLine = 4096;
// Answers owed but not yet due, over both sides. Only a peer that floods
// commands into a slow answer fault comes near it; beyond it answers are
// lost, as bytes are when a controller's send buffer overflows.
constexpr size_t kMaxOwedBytes = 1u << 20;
// Read at most this much from one side per turn of the loop, so a flooding
// client cannot starve the other side, the clock or the control commands.
constexpr size_t kMaxReadPerTurn = 64 * 1024;

struct Due {
  uint64_t at;
  std::string bytes;
  Side to;
  uint32_t client;  // TCP: the client it answers; a replaced one gets nothing
};

class Simulator {
 public:
  Simulator(sim::Store& store, std::FILE* trace, std::FILE* accesses, std::string link)
      : store_(store), trace_(trace), accesses_(accesses), link_(std::move(link)) {}

  bool OpenPort() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
      std::fprintf(stderr, "vekton-sim: openpty: %s\n", std::strerror(errno));
      return false;
    }
    // Raw until the console sets its own line: no echo, no translation.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetispeed(&tio, B9600);
      cfsetospeed(&tio, B9600);
      tcsetattr(slave, TCSANOW, &tio);
    }
    // The slave is closed again: holding it would keep the console's
    // exclusive-open flag on the terminal alive after the console lets go.
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slaveName_ = name;
    std::printf("PTY %s\n", name);
    std::fflush(stdout);
    if (!link_.empty()) {
      unlink(link_.c_str());
      if (symlink(name, link_.c_str()) != 0) {
        std::fprintf(stderr, "vekton-sim: cannot link %s: %s\n", link_.c_str(), std::strerror(errno));
      }
    }
    hupUntil_ = 0;
    ptyLine_.clear();
    return true;
  }

  void ClosePort() {
    if (master_ >= 0) close(master_);
    master_ = -1;
    DropOwed(Side::Pty);
    ptyLine_.clear();
    RemoveLink();
  }

  void RemoveLink() {
    if (link_.empty()) return;
    char target[256] = {};
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && slaveName_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
  }

  // Takes over the socket OpenListener made: listening, or only holding the
  // port when the simulator starts with the port vanished.
  void AdoptListener(int fd, const Endpoint& at, bool listening) {
    tcpOn_ = true;
    tcpAt_ = at;
    if (listening) {
      listener_ = fd;
      std::printf("TCP %s\n", AddressText(reinterpret_cast<const sockaddr*>(&at.addr), at.len).c_str());
    } else {
      reserve_ = fd;
      std::printf("TCP -\n");
    }
    std::fflush(stdout);
  }

  // The port goes away: the client is dropped and new ones are refused. The
  // port itself stays bound, so nobody takes it and the store comes back
  // where the tests and the console expect it.
  void VanishTcp(uint64_t now) {
    if (!tcpOn_) return;
    CloseClient(now, "vanish");
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    if (reserve_ < 0) reserve_ = BoundSocket(tcpAt_, false);
  }

  void ReturnTcp() {
    if (!tcpOn_ || listener_ >= 0) return;
    if (reserve_ >= 0 && listen(reserve_, 8) == 0) {
      listener_ = reserve_;
    } else {
      if (reserve_ >= 0) close(reserve_);
      listener_ = BoundSocket(tcpAt_, true);
    }
    reserve_ = -1;
    const std::string where = AddressText(reinterpret_cast<const sockaddr*>(&tcpAt_.addr), tcpAt_.len);
    if (listener_ < 0) {
      std::fprintf(stderr, "vekton-sim: cannot listen on %s again: %s\n", where.c_str(), std::strerror(errno));
      return;
    }
    std::printf("TCP %s\n", where.c_str());
    std::fflush(stdout);
  }

  void CloseTcp(uint64_t now) {
    CloseClient(now, "exit");
    if (listener_ >= 0) close(listener_);
    if (reserve_ >= 0) close(reserve_);
    listener_ = reserve_ = -1;
  }

  int master() const { return master_; }
  bool listening(uint64_t now) const { return master_ >= 0 && now >= hupUntil_; }
  int listener(uint64_t now) const { return now >= acceptPauseUntil_ ? listener_ : -1; }
  int client() const { return client_; }
  // After the client's end of file only errors matter: asking for POLLIN
  // would wake the loop at once, again and again.
  short clientEvents() const { return clientEof_ ? 0 : POLLIN; }

  // Microseconds until something is due, capped at maxUs.
  uint64_t Wait(uint64_t now, uint64_t maxUs) const {
    uint64_t wait = maxUs;
    if (!due_.empty()) wait = std::min(wait, due_.front().at > now ? due_.front().at - now : 0);
    const uint64_t next = store_.NextEventUs();
    if (next != UINT64_MAX) wait = std::min(wait, next > now ? next - now : 0);
    if (master_ >= 0 && now < hupUntil_) wait = std::min(wait, hupUntil_ - now);
    if (listener_ >= 0 && now < acceptPauseUntil_) wait = std::min(wait, acceptPauseUntil_ - now);
    return wait;
  }

  void ReadPort(uint64_t now) {
    unsigned char buf[4096];
    for (size_t total = 0; total < kMaxReadPerTurn;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        Hear(Side::Pty, buf, static_cast<size_t>(n), now);
        total += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // EIO: nobody has the slave open. Linux then reports a hang-up on every
      // poll, so look again only now and then instead of spinning.
      if (n < 0 && errno == EIO) hupUntil_ = now + 5000;
      break;
    }
    SendDue(now);
  }

  void NoteHangUp(uint64_t now) { hupUntil_ = now + 5000; }

  // Takes every connection waiting; the last one is the client.
  void Accept(uint64_t now) {
    for (int i = 0; i < 16 && listener_ >= 0; ++i) {
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          // Out of descriptors, most likely: the connection stays queued and
          // the listener readable, so look again a little later.
          std::fprintf(stderr, "vekton-sim: accept: %s\n", std::strerror(errno));
          acceptPauseUntil_ = now + 100000;
        }
        return;
      }
      CloseClient(now, "replaced");
      // An answer is a few bytes written at once; Nagle's algorithm would
      // hold the next one back until the client acknowledges the last.
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      client_ = fd;
      ++clientNumber_;
      clientEof_ = false;
      tcpLine_.clear();
      clientName_ = AddressText(reinterpret_cast<const sockaddr*>(&peer), len);
      Trace(now, "TCP", "connect " + clientName_);
    }
  }

  void ReadClient(uint64_t now, short revents) {
    if (client_ < 0) return;
    if (clientEof_) {
      // Only an error or a hang-up wakes a client that has said all it will.
      if (revents & (POLLERR | POLLHUP)) CloseClient(now, SocketError(client_));
      return;
    }
    unsigned char buf[4096];
    for (size_t total = 0; total < kMaxReadPerTurn;) {
      const ssize_t n = recv(client_, buf, sizeof buf, 0);
      if (n > 0) {
        Hear(Side::Tcp, buf, static_cast<size_t>(n), now);
        total += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n == 0) {
        // End of file: the client may only have shut its sending side, so
        // the answers it is owed still go out before the connection closes.
        clientEof_ = true;
        tcpLine_.clear();
        break;
      }
      CloseClient(now, std::strerror(errno));
      return;
    }
    SendDue(now);
    CloseIfDone(now);
  }

  void SendDue(uint64_t now) {
    while (!due_.empty() && due_.front().at <= now) {
      const Due d = std::move(due_.front());
      due_.pop_front();
      owedBytes_ -= d.bytes.size();
      Trace(now, "TX", d.bytes);
      if (d.to == Side::Pty) {
        if (master_ < 0) continue;
        // Nobody reading and the buffer full: the bytes are lost, as on a line.
        const ssize_t n = write(master_, d.bytes.data(), d.bytes.size());
        (void)n;
      } else if (client_ >= 0 && d.client == clientNumber_) {
        // The same for a client that does not read: what the socket does not
        // take is lost.
        const ssize_t n = send(client_, d.bytes.data(), d.bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          CloseClient(now, std::strerror(errno));
        }
      }
    }
    CloseIfDone(now);
  }

  // A command line of one side, byte by byte. Each side gathers its own
  // line and hands it to the store whole at its CR, as a controller with a
  // serial and an Ethernet host-link port has a receive buffer for each:
  // two peers typing at once never mix their bytes into one line.
  void Hear(Side side, const unsigned char* bytes, size_t n, uint64_t now) {
    std::string& line = side == Side::Pty ? ptyLine_ : tcpLine_;
    for (size_t i = 0; i < n; ++i) {
      if (bytes[i] != '\r') {
        if (line.size() < kKeepLine) line.push_back(static_cast<char>(bytes[i]));
        continue;
      }
      pieces_.clear();
      for (char c : line) store_.Receive(static_cast<uint8_t>(c), now, pieces_);
      line.clear();
      if (store_.Receive('\r', now, pieces_)) Trace(now, "RX", store_.LastLine() + "\r");
      for (sim::Piece& p : pieces_) {
        if (owedBytes_ + p.bytes.size() > kMaxOwedBytes) continue;
        owedBytes_ += p.bytes.size();
        due_.push_back({p.atUs, std::move(p.bytes), side, clientNumber_});
      }
    }
  }

  void Trace(uint64_t now, const char* what, std::string_view bytes) {
    if (!trace_) return;
    std::fprintf(trace_, "%s %s %s\n", Seconds(now).c_str(), what, Escape(bytes).c_str());
    std::fflush(trace_);
  }

  void WriteAccesses() {
    const auto& list = store_.Accesses();
    while (written_ < list.size() && list[written_].result != sim::AccessResult::Running) {
      const sim::AccessRecord& a = list[written_++];
      if (!accesses_) continue;
      auto time = [](uint64_t us) { return us ? Seconds(us) : std::string("-"); };
      std::fprintf(accesses_, "%u %u %u %d %d %s %s %s %s\n", a.number, a.relay, a.dm0, a.cassette, a.level,
                   Seconds(a.startUs).c_str(), time(a.plateReadyUs).c_str(), time(a.readyUs).c_str(),
                   sim::AccessResultName(a.result));
      std::fflush(accesses_);
    }
    if (written_ == list.size() && written_ > 0) {
      store_.ClearAccesses();  // keeps a week-long run from growing
      written_ = 0;
    }
  }

 private:
  static std::string SocketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0) return "peer-closed";
    return std::strerror(err);
  }

  bool OwesClient() const {
    return std::any_of(due_.begin(), due_.end(),
                       [&](const Due& d) { return d.to == Side::Tcp && d.client == clientNumber_; });
  }

  // A client at its end of file leaves once it has its answers.
  void CloseIfDone(uint64_t now) {
    if (client_ >= 0 && clientEof_ && !OwesClient()) CloseClient(now, "peer-closed");
  }

  void CloseClient(uint64_t now, const std::string& why) {
    if (client_ < 0) return;
    // What the client sent last is read away first: closing a socket with
    // unread bytes resets the connection, and the client should see a plain
    // end of file.
    unsigned char buf[4096];
    for (int i = 0; i < 16 && recv(client_, buf, sizeof buf, 0) > 0; ++i) {
    }
    close(client_);
    client_ = -1;
    clientEof_ = false;
    tcpLine_.clear();
    DropOwed(Side::Tcp);
    Trace(now, "TCP", "close " + clientName_ + " " + why);
  }

  void DropOwed(Side side) {
    for (auto it = due_.begin(); it != due_.end();) {
      if (it->to == side) {
        owedBytes_ -= it->bytes.size();
        it = due_.erase(it);
      } else {
        ++it;
      }
    }
  }

  sim::Store& store_;
  std::FILE* trace_;
  std::FILE* accesses_;
  std::string link_;
  std::string slaveName_;
  int master_ = -1;
  uint64_t hupUntil_ = 0;
  std::string ptyLine_;

  bool tcpOn_ = false;
  Endpoint tcpAt_;
  int listener_ = -1;  // accepting clients
  int reserve_ = -1;   // holding the port while it has vanished
  uint64_t acceptPauseUntil_ = 0;
  int client_ = -1;
  uint32_t clientNumber_ = 0;
  bool clientEof_ = false;
  std::string clientName_;
  std::string tcpLine_;

  std::deque<Due> due_;
  size_t owedBytes_ = 0;
  std::vector<sim::Piece> pieces_;
  size_t written_ = 0;
};

// Commands from --control: a FIFO, or a file followed as it grows.
class Control {
 public:
  bool Open(const std::string& path) {
    path_ = path;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      if (mkfifo(path.c_str(), 0600) != 0) {
        std::fprintf(stderr, "vekton-sim: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
      }
      created_ = true;
      fifo_ = true;
    } else {
      fifo_ = S_ISFIFO(st.st_mode);
    }
    // A FIFO opened for writing too never reports a hang-up when a writer
    // closes, so one open serves every writer that comes.
    fd_ = open(path.c_str(), (fifo_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      std::fprintf(stderr, "vekton-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (created_) unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  bool fifo() const { return fifo_; }

  // Reads what came and hands back the complete lines.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    if (fd_ < 0) return lines;
    char buf[1024];
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        partial_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
    if (partial_.size() > 4096) partial_.clear();
    return lines;
  }

 private:
  std::string path_;
  std::string partial_;
  int fd_ = -1;
  bool fifo_ = false;
  bool created_ = false;
};

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

// Returns false for "quit".
bool Apply(const std::string& raw, sim::Store& store, Simulator& simulator, uint64_t now) {
  const std::string line = Trim(raw);
  if (line.empty() || line[0] == '#') return true;
  const size_t blank = line.find(' ');
  const std::string word = line.substr(0, blank);
  const std::string rest = blank == std::string::npos ? "" : Trim(line.substr(blank + 1));
  if (word == "quit") return false;
  if (word == "fault") {
    std::string name = rest;
    const size_t sp = rest.find(' ');
    if (sp != std::string::npos) name = rest.substr(0, sp) + ":" + Trim(rest.substr(sp + 1));
    sim::Fault f;
    uint32_t ms = 0;
    if (!ParseFaultArg(name, f, ms)) {
      std::fprintf(stderr, "vekton-sim: unknown fault \"%s\"\n", rest.c_str());
      return true;
    }
    const bool wasGone = store.fault() == sim::Fault::Vanish;
    store.AdvanceTo(now);
    store.SetFault(f, ms);
    if (f == sim::Fault::Vanish && !wasGone) {
      simulator.ClosePort();
      simulator.VanishTcp(now);
    }
    if (f != sim::Fault::Vanish && wasGone) {
      simulator.OpenPort();
      simulator.ReturnTcp();
    }
    std::fprintf(stderr, "vekton-sim: fault %s\n", sim::FaultName(f));
    return true;
  }
  if (word == "speed") {
    char* end = nullptr;
    const double f = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !(f > 0)) {
      std::fprintf(stderr, "vekton-sim: bad speed \"%s\"\n", rest.c_str());
      return true;
    }
    store.AdvanceTo(now);
    store.SetSpeed(f);
    return true;
  }
  if (word == "plates") {
    sim::PlateLayout p;
    if (!sim::ParsePlateLayout(rest, p)) {
      std::fprintf(stderr, "vekton-sim: unknown plate layout \"%s\"\n", rest.c_str());
      return true;
    }
    store.AdvanceTo(now);
    store.SetPlates(p);
    return true;
  }
  if (word == "exec") {
    const std::string answer = store.Execute(rest.substr(0, sim::kMaxLine + 1), now);
    std::fprintf(stderr, "vekton-sim: %s -> %s\n", rest.c_str(), answer.c_str());
    return true;
  }
  std::fprintf(stderr, "vekton-sim: unknown control command \"%s\"\n", line.c_str());
  return true;
}

void ListProfiles() {
  for (size_t i = 0; i < sim::ProfileCount(); ++i) {
    const sim::Profile& p = sim::ProfileAt(i);
    std::printf("%-10s serial %u: %s\n", p.name, p.serial, p.summary);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const sim::Profile* profile = &sim::DefaultProfile();
  sim::Options options;
  options.latencyUs = 0;  // a pseudo-terminal carries bytes at once
  options.byteUs = 0;
  std::string link, tracePath, accessPath, controlPath, listenHost, listenPort;
  bool tcp = false;
  sim::Fault fault = sim::Fault::None;
  uint32_t faultMs = 0;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vekton-sim: %s needs a value (see --help)\n", arg.c_str());
        std::exit(2);
      }
      out = argv[++i];
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      std::printf("\nProfiles:\n");
      ListProfiles();
      return 0;
    } else if (arg == "--version") {
      std::printf("vekton-sim %s\n", VEKTON_VERSION);
      return 0;
    } else if (arg == "--list-profiles") {
      ListProfiles();
      return 0;
    } else if (arg == "--profile") {
      value(v);
      profile = sim::FindProfile(v);
      if (!profile) {
        std::fprintf(stderr, "vekton-sim: unknown profile \"%s\"; try --list-profiles\n", v.c_str());
        return 2;
      }
    } else if (arg == "--speed") {
      value(v);
      char* end = nullptr;
      options.speed = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(options.speed >= 0.01 && options.speed <= 1000)) {
        std::fprintf(stderr, "vekton-sim: --speed wants a number from 0.01 to 1000\n");
        return 2;
      }
    } else if (arg == "--link") {
      value(link);
    } else if (arg == "--listen") {
      value(v);
      if (!SplitHostPort(v, listenHost, listenPort)) {
        std::fprintf(stderr, "vekton-sim: --listen wants HOST:PORT or [IPv6]:PORT with PORT 0 to 65535, not \"%s\"\n",
                     v.c_str());
        return 2;
      }
      tcp = true;
    } else if (arg == "--trace") {
      value(tracePath);
    } else if (arg == "--accesses") {
      value(accessPath);
    } else if (arg == "--control") {
      value(controlPath);
    } else if (arg == "--fault") {
      value(v);
      if (!ParseFaultArg(v, fault, faultMs)) {
        std::fprintf(stderr, "vekton-sim: unknown fault \"%s\" (see --help)\n", v.c_str());
        return 2;
      }
    } else if (arg == "--plates") {
      value(v);
      if (!sim::ParsePlateLayout(v, options.plates)) {
        std::fprintf(stderr, "vekton-sim: unknown plate layout \"%s\" (see --help)\n", v.c_str());
        return 2;
      }
    } else if (arg == "--seed") {
      value(v);
      options.seed = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
    } else {
      std::fprintf(stderr, "vekton-sim: unknown option \"%s\" (see --help)\n", arg.c_str());
      return 2;
    }
  }

  // The TCP port first: a port in use or a host that does not resolve is a
  // mistake in the command line, told before anything else is made.
  int listener = -1;
  Endpoint listenAt;
  if (tcp) {
    std::string why;
    listener = OpenListener(listenHost, listenPort, fault != sim::Fault::Vanish, listenAt, why);
    if (listener < 0) {
      std::fprintf(stderr, "vekton-sim: --listen: %s\n", why.c_str());
      return 2;
    }
  }

  std::FILE* trace = nullptr;
  std::FILE* accesses = nullptr;
  if (!tracePath.empty() && !(trace = std::fopen(tracePath.c_str(), "w"))) {
    std::fprintf(stderr, "vekton-sim: cannot write %s: %s\n", tracePath.c_str(), std::strerror(errno));
    return 1;
  }
  if (!accessPath.empty()) {
    if (!(accesses = std::fopen(accessPath.c_str(), "w"))) {
      std::fprintf(stderr, "vekton-sim: cannot write %s: %s\n", accessPath.c_str(), std::strerror(errno));
      return 1;
    }
    std::fprintf(accesses, "# n relay DM0 cassette level start plate-ready ready result\n");
    std::fflush(accesses);
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::Store store(*profile, options);
  store.SetFault(fault, faultMs);
  Simulator simulator(store, trace, accesses, link);
  if (listener >= 0) simulator.AdoptListener(listener, listenAt, fault != sim::Fault::Vanish);
  std::fprintf(stderr, "vekton-sim: profile %s, serial %u, firmware %u, speed %g\n", profile->name,
               profile->serial, profile->firmware, options.speed);
  if (fault == sim::Fault::Vanish) {
    std::printf("PTY -\n");  // there is no port until the fault is cleared
    std::fflush(stdout);
  } else if (!simulator.OpenPort()) {
    return 1;
  }

  Control control;
  if (!controlPath.empty() && !control.Open(controlPath)) return 1;

  const uint64_t t0 = MonotonicUs();
  bool running = true;
  while (running && !gStop) {
    uint64_t now = MonotonicUs() - t0;
    // A regular control file is looked at ten times a second.
    const uint64_t maxWait = control.fd() >= 0 && !control.fifo() ? 100000 : 1000000;
    const uint64_t wait = simulator.Wait(now, maxWait);
    pollfd fds[4];
    nfds_t n = 0;
    int masterSlot = -1, listenerSlot = -1, clientSlot = -1, controlSlot = -1;
    if (simulator.listening(now)) {
      masterSlot = static_cast<int>(n);
      fds[n++] = {simulator.master(), POLLIN, 0};
    }
    if (simulator.listener(now) >= 0) {
      listenerSlot = static_cast<int>(n);
      fds[n++] = {simulator.listener(now), POLLIN, 0};
    }
    if (simulator.client() >= 0) {
      clientSlot = static_cast<int>(n);
      fds[n++] = {simulator.client(), simulator.clientEvents(), 0};
    }
    if (control.fd() >= 0 && control.fifo()) {
      controlSlot = static_cast<int>(n);
      fds[n++] = {control.fd(), POLLIN, 0};
    }
    timespec ts{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
    const int r = ppoll(fds, n, &ts, nullptr);
    if (r < 0 && errno != EINTR) {
      std::fprintf(stderr, "vekton-sim: poll: %s\n", std::strerror(errno));
      break;
    }
    now = MonotonicUs() - t0;
    if (r > 0 && masterSlot >= 0) {
      const short ev = fds[masterSlot].revents;
      if (ev & POLLIN) {
        simulator.ReadPort(now);
      } else if (ev & (POLLHUP | POLLERR)) {
        simulator.NoteHangUp(now);
      }
    }
    // The client first: bytes it sent before a newer client came are its own.
    if (r > 0 && clientSlot >= 0 && fds[clientSlot].revents) simulator.ReadClient(now, fds[clientSlot].revents);
    if (r > 0 && listenerSlot >= 0 && fds[listenerSlot].revents) simulator.Accept(now);
    if (control.fd() >= 0 && (!control.fifo() || (r > 0 && controlSlot >= 0 && fds[controlSlot].revents))) {
      for (const std::string& line : control.Lines()) {
        if (!Apply(line, store, simulator, now)) running = false;
      }
    }
    store.AdvanceTo(now);
    simulator.SendDue(now);
    simulator.WriteAccesses();
  }

  simulator.ClosePort();
  simulator.CloseTcp(MonotonicUs() - t0);
  control.Close();
  if (trace) std::fclose(trace);
  if (accesses) std::fclose(accesses);
  return 0;
}
