// The TCP port of --listen: a raw server, as a serial device server in raw
// mode or a controller's own Ethernet host link is, one client at a time (a
// new client replaces the old one). It prints "TCP <address>:<port>" once it
// listens. The client is traced: "TCP connect <peer>", "TCP close <peer> <why>".
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/line/Endpoints.h"

namespace sim {
namespace {

// After a failed accept (out of descriptors, most likely) the listener is
// looked at again this much later: the connection stays queued and the
// listener readable.
constexpr uint64_t kAcceptPauseUs = 100000;

struct SocketAddress {
  sockaddr_storage addr{};
  socklen_t len = 0;
};

// "127.0.0.1:40123" or "[::1]:40123".
std::string AddressText(const sockaddr* sa, socklen_t len) {
  char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
  if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0) return "?";
  return sa->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + serv : std::string(host) + ":" + serv;
}

std::string AddressText(const SocketAddress& a) { return AddressText(reinterpret_cast<const sockaddr*>(&a.addr), a.len); }

// A socket bound to the address, listening or only holding the port (a
// bound socket that does not listen refuses connections). -1 and errno on
// failure.
int BoundSocket(const SocketAddress& at, bool listening) {
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
// Returns the socket (its real address in `at`) or -1 with the reason.
int OpenListener(const std::string& host, const std::string& port, bool listening, SocketAddress& at,
                 std::string& why) {
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
    SocketAddress e;
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

std::string SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0) return "peer-closed";
  return std::strerror(err);
}

class TcpEndpoint : public Endpoint {
 public:
  TcpEndpoint(Line& line, int id, std::string host, std::string port)
      : line_(line), id_(id), host_(std::move(host)), port_(std::move(port)) {}

  // The port is bound before anything else is made: a port in use or a host
  // that does not resolve is a mistake in the command line. While the port
  // has vanished it is only held, not listened on.
  bool Reserve(bool vanished, std::string& why) override {
    std::string reason;
    const int fd = OpenListener(host_, port_, !vanished, at_, reason);
    if (fd < 0) {
      why = "--listen: " + reason;
      return false;
    }
    (vanished ? reserve_ : listener_) = fd;
    return true;
  }

  bool Open(bool vanished) override {
    if (vanished) {
      std::printf("TCP -\n");
    } else {
      std::printf("TCP %s\n", AddressText(at_).c_str());
    }
    std::fflush(stdout);
    return true;
  }

  // The port goes away: the client is dropped and new ones are refused. The
  // port itself stays bound, so nobody takes it and the store comes back
  // where the tests and the console expect it.
  void Vanish(uint64_t now) override {
    CloseClient(now, "vanish");
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    if (reserve_ < 0) reserve_ = BoundSocket(at_, false);
  }

  void Return() override {
    if (listener_ >= 0) return;
    if (reserve_ >= 0 && listen(reserve_, 8) == 0) {
      listener_ = reserve_;
    } else {
      if (reserve_ >= 0) close(reserve_);
      listener_ = BoundSocket(at_, true);
    }
    reserve_ = -1;
    const std::string where = AddressText(at_);
    if (listener_ < 0) {
      std::fprintf(stderr, "vekton-sim: cannot listen on %s again: %s\n", where.c_str(), std::strerror(errno));
      return;
    }
    std::printf("TCP %s\n", where.c_str());
    std::fflush(stdout);
  }

  void Close(uint64_t now) override {
    CloseClient(now, "exit");
    if (listener_ >= 0) close(listener_);
    if (reserve_ >= 0) close(reserve_);
    listener_ = reserve_ = -1;
  }

  void AddPolls(std::vector<PollEntry>& polls, uint64_t now) override {
    const size_t first = polls.size();
    listenerSlot_ = clientSlot_ = -1;
    if (listener_ >= 0 && now >= acceptPauseUntil_) {
      listenerSlot_ = static_cast<int>(polls.size() - first);
      polls.push_back({listener_, kPollIn, 0});
    }
    if (client_ >= 0) {
      clientSlot_ = static_cast<int>(polls.size() - first);
      // After the client's end of file only errors matter: asking for input
      // would wake the loop at once, again and again.
      polls.push_back({client_, static_cast<uint8_t>(clientEof_ ? 0 : kPollIn), 0});
    }
  }

  // The client first: bytes it sent before a newer client came are its own.
  void Handle(const PollEntry* polls, size_t n, uint64_t now) override {
    auto got = [&](int slot) -> uint8_t { return slot >= 0 && static_cast<size_t>(slot) < n ? polls[slot].got : 0; };
    if (const uint8_t g = got(clientSlot_)) ReadClient(now, g);
    if (got(listenerSlot_)) Accept(now);
  }

  uint64_t PauseUs(uint64_t now) const override {
    return listener_ >= 0 && now < acceptPauseUntil_ ? acceptPauseUntil_ - now : UINT64_MAX;
  }

  void Deliver(const Owed& answer, uint64_t now) override {
    if (client_ < 0 || answer.session != clientNumber_) return;
    // A client that does not read loses what the socket does not take.
    const ssize_t n = send(client_, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) CloseClient(now, std::strerror(errno));
  }

  // A client at its end of file leaves once it has its answers.
  void AfterSend(uint64_t now) override {
    if (client_ >= 0 && clientEof_ && !line_.owed.Owes(id_, clientNumber_)) CloseClient(now, "peer-closed");
  }

 private:
  // Takes every connection waiting; the last one is the client.
  void Accept(uint64_t now) {
    for (int i = 0; i < 16 && listener_ >= 0; ++i) {
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          std::fprintf(stderr, "vekton-sim: accept: %s\n", std::strerror(errno));
          acceptPauseUntil_ = now + kAcceptPauseUs;
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
      gathered_.clear();
      clientName_ = AddressText(reinterpret_cast<const sockaddr*>(&peer), len);
      line_.trace.Event(now, "TCP", "connect " + clientName_);
    }
  }

  void ReadClient(uint64_t now, uint8_t got) {
    if (client_ < 0) return;
    if (clientEof_) {
      // Only an error or a hang-up wakes a client that has said all it will.
      if (got & (kPollError | kPollHangUp)) CloseClient(now, SocketError(client_));
      return;
    }
    unsigned char buf[4096];
    for (size_t total = 0; total < kMaxReadPerTurn;) {
      const ssize_t n = recv(client_, buf, sizeof buf, 0);
      if (n > 0) {
        Hear(line_, id_, clientNumber_, gathered_, buf, static_cast<size_t>(n), now);
        total += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n == 0) {
        // End of file: the client may only have shut its sending side, so
        // the answers it is owed still go out before the connection closes.
        clientEof_ = true;
        gathered_.clear();
        break;
      }
      CloseClient(now, std::strerror(errno));
      return;
    }
    SendDue(line_, now);
    AfterSend(now);
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
    gathered_.clear();
    line_.owed.Drop(id_);
    line_.trace.Event(now, "TCP", "close " + clientName_ + " " + why);
  }

  Line& line_;
  const int id_;
  const std::string host_, port_;
  SocketAddress at_;
  int listener_ = -1;  // accepting clients
  int reserve_ = -1;   // holding the port while it has vanished
  uint64_t acceptPauseUntil_ = 0;
  int listenerSlot_ = -1, clientSlot_ = -1;  // among its polls of this turn
  int client_ = -1;
  uint32_t clientNumber_ = 0;
  bool clientEof_ = false;
  std::string clientName_;
  std::string gathered_;
};

}  // namespace

std::unique_ptr<Endpoint> MakeTcpEndpoint(const SimOptions& options, Line& line, int id) {
  if (!options.listen) return nullptr;
  return std::make_unique<TcpEndpoint>(line, id, options.listenHost, options.listenPort);
}

}  // namespace sim
