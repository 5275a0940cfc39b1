// A serial port across the network: a raw TCP connection, or Telnet with
// the COM Port Control option (RFC 2217, the codec in platform/rfc2217.h
// and the connection sequence in platform/remote_line.h). The sockets are
// non-blocking; the shared part waits on them as on a terminal.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/posix/posix_internal.h"
#include "platform/posix/serial_transport.h"

namespace {

// Connecting, name resolution included, never takes longer than this.
constexpr uint64_t kConnectLimitUs = 3000000;
// How long the server has to confirm the line settings.
constexpr uint64_t kSettingsLimitUs = 1000000;
// A wait inside connecting looks at the keyboard this often.
constexpr uint64_t kKeyLookUs = 20000;
// A purge takes at most this much of what has arrived, so a peer that
// floods the line cannot hold it; the rest is left for the reads.
constexpr size_t kPurgeDrainBytes = 256 * 1024;

// --- connecting ---------------------------------------------------------------

// Sleeps until fd shows events, deadlineUs passes or Esc is typed, in short
// steps. 0 and the revents, ETIMEDOUT, or kSerialErrAbandoned.
int WaitOrEsc(int fd, short events, uint64_t deadlineUs, short& revents) {
  revents = 0;
  for (;;) {
    if (posix::EscQueued()) return kSerialErrAbandoned;
    const uint64_t now = posix::MonotonicUs();
    if (now >= deadlineUs) return ETIMEDOUT;
    uint64_t left = deadlineUs - now;
    if (left > kKeyLookUs) left = kKeyLookUs;
    if (fd < 0) {
      timespec ts{0, static_cast<long>(left * 1000)};
      nanosleep(&ts, nullptr);
      return 0;
    }
    pollfd p{fd, events, 0};
    if (poll(&p, 1, static_cast<int>((left + 999) / 1000)) > 0) {
      revents = p.revents;
      return 0;
    }
  }
}

int LookupError(int rc, int sysErr) {
  switch (rc) {
    case EAI_SYSTEM: return sysErr != 0 ? sysErr : kSerialErrHostNotFound;
    case EAI_MEMORY: return ENOMEM;
    default: return kSerialErrHostNotFound;  // no such name, no address, no answer
  }
}

// A name lookup on a helper thread: getaddrinfo cannot be told to give up,
// so the waiter leaves at its deadline (or on Esc) and the helper, when it
// is done, frees what it found by dropping the last reference.
struct Lookup {
  std::mutex m;
  bool done = false;
  int rc = 0;
  int sysErr = 0;
  addrinfo* result = nullptr;
  std::string host, service;
  ~Lookup() {
    if (result) freeaddrinfo(result);
  }
};

void* RunLookup(void* arg) {
  std::unique_ptr<std::shared_ptr<Lookup>> ref(static_cast<std::shared_ptr<Lookup>*>(arg));
  Lookup& l = **ref;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(l.host.c_str(), l.service.c_str(), &hints, &res);
  const int sysErr = errno;
  std::lock_guard<std::mutex> lock(l.m);
  l.rc = rc;
  l.sysErr = sysErr;
  l.result = res;
  l.done = true;
  return nullptr;
}

// Resolves address; 0 and the list (the caller frees it), or the error.
int Resolve(const RemoteAddress& a, uint64_t deadlineUs, addrinfo*& out) {
  out = nullptr;
  // An address needs no lookup and cannot block.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  int rc = getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &out);
  if (rc == 0) return 0;
  if (rc != EAI_NONAME) return LookupError(rc, errno);
  // Names under .invalid never resolve (RFC 6761); asking a name server
  // about them would only cost time.
  std::string lower;
  for (char c : a.host) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.size() >= 8 && (lower.compare(lower.size() - 8, 8, ".invalid") == 0 ||
                            lower.compare(lower.size() - 8, 8, "invalid.") == 0))
    return kSerialErrHostNotFound;
  if (lower == "invalid") return kSerialErrHostNotFound;

  auto lookup = std::make_shared<Lookup>();
  lookup->host = a.host;
  lookup->service = a.port;
  auto* ref = new std::shared_ptr<Lookup>(lookup);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int started = pthread_create(&thread, &attr, RunLookup, ref);
  pthread_attr_destroy(&attr);
  if (started != 0) {
    delete ref;
    return started;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(lookup->m);
      if (lookup->done) {
        if (lookup->rc != 0) return LookupError(lookup->rc, lookup->sysErr);
        out = lookup->result;
        lookup->result = nullptr;
        return 0;
      }
    }
    short ev;
    const int err = WaitOrEsc(-1, 0, deadlineUs, ev);
    if (err != 0) return err;
  }
}

// Connects to the first address that takes the connection. 0 and the
// socket (non-blocking, Nagle off), or the error of the last attempt.
int Connect(const RemoteAddress& a, uint64_t deadlineUs, int& fdOut) {
  fdOut = -1;
  addrinfo* list = nullptr;
  int err = Resolve(a, deadlineUs, list);
  if (err != 0) return err;
  err = EHOSTUNREACH;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    int r = connect(fd, ai->ai_addr, ai->ai_addrlen);
    err = r == 0 ? 0 : errno;
    if (err == EINPROGRESS || err == EINTR) {
      // Writable once the connection stands or has failed; SO_ERROR says which.
      short ev = 0;
      err = WaitOrEsc(fd, POLLOUT, deadlineUs, ev);
      while (err == 0 && ev == 0) err = WaitOrEsc(fd, POLLOUT, deadlineUs, ev);
      if (err == 0) {
        int soErr = 0;
        socklen_t len = sizeof soErr;
        err = getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0 ? errno : soErr;
      }
    }
    if (err == 0) {
      // The exchange writes one byte at a time: Nagle's algorithm together
      // with delayed acknowledgements would hold every command back.
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fdOut = fd;
      break;
    }
    close(fd);
    if (err == kSerialErrAbandoned || err == ETIMEDOUT) break;  // the budget is spent
  }
  freeaddrinfo(list);
  return err;
}

// --- the connection's byte steps --------------------------------------------

// Marks the connection gone (the first cause stays) and reports like a
// failed read: -1 with errno.
ssize_t Lost(SerialPort& p, int err) {
  if (p.lostError == 0) p.lostError = err;
  errno = p.lostError;
  return -1;
}

// One non-blocking receive: > 0 bytes, 0 none now, -1 with errno (the
// connection ended: closed by the peer reads as ECONNRESET).
ssize_t Receive(SerialPort& p, uint8_t* buf, size_t n) {
  if (p.lostError != 0) return Lost(p, p.lostError);
  const ssize_t r = recv(p.fd, buf, n, MSG_DONTWAIT);
  if (r > 0) {
    // What came is acknowledged at once, not up to 40 ms later. A Telnet
    // server with Nagle's algorithm on (ser2net) answers the purge that
    // opens every exchange, then holds the controller's answer back until
    // that purge answer is acknowledged: with delayed acknowledgements the
    // answer came some 44 ms after the command, 8 ms short of the read
    // time-out; now some 3 ms (bench/exchange_bench). The kernel drops the
    // mode again by itself, so it is asked for after every receive.
    int one = 1;
    setsockopt(p.fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    return r;
  }
  if (r == 0) return Lost(p, ECONNRESET);
  if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
  if (errno == EINTR) return -1;
  return Lost(p, errno);
}

ssize_t Send(SerialPort& p, const uint8_t* data, size_t n) {
  if (p.lostError != 0) return Lost(p, p.lostError);
  // Never SIGPIPE: a closed connection is an error code like any other.
  const ssize_t r = send(p.fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (r >= 0) return r;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
    if (errno == EWOULDBLOCK) errno = EAGAIN;
    return -1;
  }
  return Lost(p, errno);
}

// Settings a line could run: accepted and remembered as asked (the letter
// and stop bits read as a device reads them).
bool Normalise(const SerialSettings& in, SerialSettings& out) {
  if (in.baud == 0 || in.dataBits < 5 || in.dataBits > 8) return SerialFail(EINVAL);
  out = in;
  const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(in.parity)));
  out.parity = parity == 'E' || parity == 'O' ? parity : 'N';
  out.stopBits = in.stopBits == 2 ? 2 : 1;
  return true;
}

bool GetSettings(SerialPort& p, SerialSettings& s) {
  s = p.settings;
  return true;
}

void CloseSocket(SerialPort& p) { close(p.fd); }

// --- raw TCP -----------------------------------------------------------------------

bool TcpSetSettings(SerialPort& p, const SerialSettings& s) { return Normalise(s, p.settings); }

bool TcpPurge(SerialPort& p) {
  uint8_t buf[4096];
  for (size_t taken = 0; taken < kPurgeDrainBytes;) {
    const ssize_t n = Receive(p, buf, sizeof buf);
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
  }
  return true;
}

bool TcpWaiting(SerialPort& p, uint32_t& bytesWaiting) {
  int n = 0;
  if (ioctl(p.fd, FIONREAD, &n) != 0) return SerialFail(errno);
  bytesWaiting = n > 0 ? static_cast<uint32_t>(n) : 0;
  return true;
}

constexpr SerialTransport kTcp = {GetSettings, TcpSetSettings, TcpPurge, TcpWaiting,
                                  Receive,     Send,           nullptr,  CloseSocket};

// --- RFC 2217 ------------------------------------------------------------------------

// Sends what the link owes the server, as far as the socket takes it.
int RfcFlush(SerialPort& p) {
  std::string& out = p.link->out;
  if (out.size() > kRemoteOutLimit) {  // the server never takes our answers
    Lost(p, ENOBUFS);
    return ENOBUFS;
  }
  while (!out.empty()) {
    const ssize_t n = Send(p, reinterpret_cast<const uint8_t*>(out.data()), out.size());
    if (n < 0) return errno == EINTR ? EAGAIN : errno;
    out.erase(0, static_cast<size_t>(n));
  }
  return 0;
}

// Takes in what the socket has, as far as the link has room. -1 with errno
// when the connection ended, else how many bytes came.
ssize_t RfcTakeIn(SerialPort& p) {
  uint8_t raw[kRemoteDataBytes];
  const size_t room = Rfc2217LinkRoom(*p.link);
  if (room == 0) return 0;
  const ssize_t n = Receive(p, raw, room);
  if (n > 0) Rfc2217LinkFeed(*p.link, raw, static_cast<size_t>(n));
  return n;
}

// The wait of the connection sequence (see Rfc2217Pump).
int RfcPump(void* ctx, Rfc2217Link& l, uint64_t deadlineUs) {
  SerialPort& p = *static_cast<SerialPort*>(ctx);
  const int sent = RfcFlush(p);
  if (sent != 0 && sent != EAGAIN) return sent;
  short ev = 0;
  const short want = static_cast<short>(POLLIN | (l.out.empty() ? 0 : POLLOUT));
  const int err = WaitOrEsc(p.fd, want, deadlineUs, ev);
  if (err != 0) return err;
  if (ev & (POLLIN | POLLHUP | POLLERR)) {
    // Line data before the line is set up is noise; it must not block the
    // negotiation behind it.
    if (Rfc2217LinkRoom(l) == 0) l.dataLen = 0;
    if (RfcTakeIn(p) < 0 && errno != EINTR) return errno;
  }
  return 0;
}

bool RfcSetSettings(SerialPort& p, const SerialSettings& s) {
  SerialSettings want;
  if (!Normalise(s, want)) return false;
  Rfc2217Line line;
  line.baud = want.baud;
  line.dataBits = want.dataBits;
  line.parity = want.parity;
  line.stopBits = want.stopBits;
  const int err = Rfc2217LinkSetLine(*p.link, line, RfcPump, &p,
                                     posix::MonotonicUs() + kSettingsLimitUs);
  if (err != 0) return SerialFail(err);
  want.flagsSet = false;  // the line runs without flow control
  p.settings = want;
  RfcFlush(p);  // answers owed since; what does not go now goes with the next write
  return true;
}

bool RfcPurge(SerialPort& p) {
  // What has arrived still passes the codec, so a command cut by the purge
  // keeps its framing; only its data is dropped.
  uint8_t raw[4096];
  for (size_t taken = 0; taken < kPurgeDrainBytes;) {
    p.link->dataLen = 0;
    const ssize_t n = Receive(p, raw, sizeof raw);
    if (n <= 0) break;
    Rfc2217LinkFeed(*p.link, raw, static_cast<size_t>(n));
    taken += static_cast<size_t>(n);
  }
  p.link->dataLen = 0;
  Rfc2217Purge(p.link->codec, p.link->out);
  RfcFlush(p);
  return true;
}

bool RfcWaiting(SerialPort& p, uint32_t& bytesWaiting) {
  // Telnet control is no line data: decode what is there to count it.
  // Bounded like a purge: a peer sending only Telnet control as fast as we
  // read it must not hold the count.
  RfcFlush(p);
  ssize_t n = 0;
  for (size_t taken = 0; taken < kPurgeDrainBytes && Rfc2217LinkRoom(*p.link) > 0;
       taken += static_cast<size_t>(n)) {
    n = RfcTakeIn(p);
    if (n <= 0) break;
  }
  bytesWaiting = static_cast<uint32_t>(p.link->dataLen);
  return true;
}

ssize_t RfcReadSome(SerialPort& p, uint8_t* buf, size_t n) {
  if (p.link->dataLen == 0) {
    RfcFlush(p);
    if (RfcTakeIn(p) < 0 && p.link->dataLen == 0) return -1;
  }
  const size_t took = Rfc2217LinkTake(*p.link, buf, n);
  if (took > 0) return static_cast<ssize_t>(took);
  return p.lostError != 0 ? Lost(p, p.lostError) : 0;
}

// Takes data only when everything before it has gone, so the bytes that
// flushOut still holds always belong to the last piece taken.
ssize_t RfcWriteSome(SerialPort& p, const uint8_t* data, size_t n) {
  const int pending = RfcFlush(p);
  if (pending != 0) {
    errno = pending;
    return -1;
  }
  if (n > 1024) n = 1024;
  Rfc2217Send(p.link->codec, data, n, p.link->out);
  const int err = RfcFlush(p);
  if (err != 0 && err != EAGAIN) {
    errno = err;
    return -1;
  }
  return static_cast<ssize_t>(n);
}

constexpr SerialTransport kRfc2217 = {GetSettings, RfcSetSettings, RfcPurge, RfcWaiting,
                                      RfcReadSome, RfcWriteSome,   RfcFlush, CloseSocket};

}  // namespace

int NetOpen(const RemoteAddress& address, SerialPort& port) {
  const uint64_t deadline = posix::MonotonicUs() + kConnectLimitUs;
  int fd = -1;
  int err = Connect(address, deadline, fd);
  if (err != 0) return err;
  port.fd = fd;
  if (address.kind == RemoteKind::kTcp) {
    port.ops = &kTcp;
    return 0;
  }
  port.ops = &kRfc2217;
  port.link = std::make_unique<Rfc2217Link>();
  err = Rfc2217LinkOpen(*port.link, RfcPump, &port, deadline);
  if (err == 0) return 0;
  close(fd);
  port.fd = -1;
  port.link.reset();
  return err;
}
