// A serial port across the network on Windows: a raw TCP connection, or
// Telnet with the COM Port Control option (the codec in platform/rfc2217.h,
// the connection sequence in platform/remote_line.h). Winsock only carries
// the bytes. The socket is non-blocking; every wait is a select() of one
// short slice, so the program yields, sees Esc and never blocks unbounded.
//
// Winsock 2 must come before <windows.h>, which would pull in the old one.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/win32/serial_net.h"
#include "platform/win32/win32_internal.h"

namespace win32 {

struct NetLine {
  SOCKET sock = INVALID_SOCKET;
  WSAEVENT readable = WSA_INVALID_EVENT;  // for the program's waits
  SerialTimeouts timeouts{};
  // The settings last set (raw TCP) or confirmed (RFC 2217).
  SerialSettings settings{9600, 'N', 8, 1, false};
  int lostError = 0;                  // the connection's end, once it is gone
  std::unique_ptr<Rfc2217Link> link;  // RFC 2217 only
};

namespace {

// Connecting, name lookup included, never takes longer than this.
constexpr uint64_t kConnectLimitUs = 3000000;
// How long the server has to confirm the line settings.
constexpr uint64_t kSettingsLimitUs = 1000000;
// The longest single wait: the program yields and looks at the keyboard
// at least this often.
constexpr uint64_t kSliceUs = 20000;
// A write that the far end does not take is given up after this long when
// the port has no write time-out of its own.
constexpr uint64_t kDefaultWriteLimitMs = 1000;
// A purge or a count takes at most this much of what has arrived, so a
// peer that floods the line cannot hold it.
constexpr size_t kDrainBytes = 256 * 1024;

enum Ready : int { kReadable = 1, kWritable = 2, kFailed = 4 };
// Flush: more to send and no room for it now.
constexpr int kPending = -1;

// Winsock is started once, at the first network port, and left running
// for the program's life (Windows ends it with the process).
int StartWinsock() {
  static const int result = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

// Waits until s is ready for what is wanted or one slice (at most until
// deadlineUs) has passed. Returns the Ready bits, 0 when nothing happened.
int WaitSocket(SOCKET s, int want, uint64_t deadlineUs) {
  const uint64_t now = MonotonicUs();
  if (now >= deadlineUs) return 0;
  uint64_t left = deadlineUs - now;
  if (left > kSliceUs) left = kSliceUs;
  // Rounded up to whole milliseconds, so a read never ends early.
  const long ms = static_cast<long>((left + 999) / 1000);
  fd_set rd, wr, ex;
  FD_ZERO(&rd);
  FD_ZERO(&wr);
  FD_ZERO(&ex);
  if (want & kReadable) FD_SET(s, &rd);
  if (want & kWritable) FD_SET(s, &wr);
  FD_SET(s, &ex);  // where a failed connect shows
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int n = select(0, &rd, &wr, &ex, &tv);
  if (n == SOCKET_ERROR) {
    // The socket itself is broken: let the caller's next step find out why,
    // after the slice, so no loop spins on it.
    SleepMs(static_cast<uint32_t>(ms));
    return kFailed;
  }
  if (n == 0) return 0;
  return (FD_ISSET(s, &rd) ? kReadable : 0) | (FD_ISSET(s, &wr) ? kWritable : 0) |
         (FD_ISSET(s, &ex) ? kFailed : 0);
}

// Waits for s (or, without a socket, only for time) until it is ready,
// deadlineUs passes or Esc is typed. 0 and the Ready bits, ETIMEDOUT, or
// kSerialErrAbandoned.
int WaitOrEsc(SOCKET s, int want, uint64_t deadlineUs, int& ready) {
  ready = 0;
  for (;;) {
    YieldPoint();
    if (EscQueued()) return kSerialErrAbandoned;
    const uint64_t now = MonotonicUs();
    if (now >= deadlineUs) return ETIMEDOUT;
    uint64_t left = deadlineUs - now;
    if (left > kSliceUs) left = kSliceUs;
    if (s == INVALID_SOCKET) {
      SleepMs(static_cast<uint32_t>((left + 999) / 1000));
      return 0;
    }
    ready = WaitSocket(s, want, now + left);
    if (ready != 0) return 0;
  }
}

// --- connecting ------------------------------------------------------------------

// getaddrinfo's failures: a name that does not resolve is ours to report,
// anything else (no memory, Winsock not working) is the system's code.
int LookupError(int rc) {
  switch (rc) {
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY:
    case WSANO_DATA:
    case WSATYPE_NOT_FOUND:
      return kSerialErrHostNotFound;
    default:
      return rc != 0 ? rc : kSerialErrHostNotFound;
  }
}

// A name lookup on a helper thread: getaddrinfo cannot be told to give up,
// so the waiter leaves at its deadline (or on Esc) and the helper, when it
// is done, frees what it found by dropping the last reference.
struct Lookup {
  std::mutex m;
  bool done = false;
  int rc = 0;
  addrinfo* result = nullptr;
  std::string host, service;
  ~Lookup() {
    if (result) freeaddrinfo(result);
  }
};

void RunLookup(std::shared_ptr<Lookup> l) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(l->host.c_str(), l->service.c_str(), &hints, &res);
  std::lock_guard<std::mutex> lock(l->m);
  l->rc = rc;
  l->result = res;
  l->done = true;
}

bool NeverResolves(const std::string& host) {
  // Names under .invalid never resolve (RFC 6761); asking a name server
  // about them would only cost time.
  std::string lower;
  for (char c : host) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!lower.empty() && lower.back() == '.') lower.pop_back();  // the root's dot
  return lower == "invalid" ||
         (lower.size() > 8 && lower.compare(lower.size() - 8, 8, ".invalid") == 0);
}

// Resolves address; 0 and the list (the caller frees it), or the error.
int Resolve(const RemoteAddress& a, uint64_t deadlineUs, addrinfo*& out) {
  out = nullptr;
  // An address needs no lookup and cannot block.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST;
  if (getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &out) == 0) return 0;
  out = nullptr;
  if (NeverResolves(a.host)) return kSerialErrHostNotFound;

  auto lookup = std::make_shared<Lookup>();
  lookup->host = a.host;
  lookup->service = a.port;
  try {
    std::thread(RunLookup, lookup).detach();
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;  // no thread to look the name up on
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(lookup->m);
      if (lookup->done) {
        if (lookup->rc != 0) return LookupError(lookup->rc);
        out = lookup->result;
        lookup->result = nullptr;
        return 0;
      }
    }
    int ready;
    const int err = WaitOrEsc(INVALID_SOCKET, 0, deadlineUs, ready);
    if (err != 0) return err;
  }
}

// Connects to the first address that takes the connection. 0 and the
// socket (non-blocking, Nagle off), or the error of the last attempt.
int Connect(const RemoteAddress& a, uint64_t deadlineUs, SOCKET& out) {
  out = INVALID_SOCKET;
  addrinfo* list = nullptr;
  int err = Resolve(a, deadlineUs, list);
  if (err != 0) return err == ETIMEDOUT ? WSAETIMEDOUT : err;
  err = WSAEHOSTUNREACH;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    const SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == INVALID_SOCKET) {
      err = WSAGetLastError();
      continue;
    }
    // Not passed on to programs we start.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    err = ioctlsocket(s, FIONBIO, &nonBlocking) == 0 ? 0 : WSAGetLastError();
    if (err == 0 && connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0)
      err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK || err == WSAEINPROGRESS) {
      // Writable once the connection stands, in the exception set once it
      // failed; SO_ERROR says which.
      int ready = 0;
      do err = WaitOrEsc(s, kWritable, deadlineUs, ready);
      while (err == 0 && ready == 0);
      if (err == 0) {
        int soErr = 0;
        int len = sizeof soErr;
        err = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &len) != 0
                  ? WSAGetLastError()
                  : soErr;
        if (err == 0 && !(ready & kWritable)) err = WSAECONNREFUSED;
      }
    }
    if (err == 0) {
      // The exchange writes one byte at a time: Nagle's algorithm together
      // with delayed acknowledgements would hold every command back.
      BOOL one = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      // And every segment received is acknowledged at once. A Telnet server
      // with Nagle's algorithm on (ser2net) holds the controller's answer
      // until its answer to our purge is acknowledged; Windows delays that
      // acknowledgement up to 200 ms, past the 52 ms read. (The POSIX layer
      // does the same with TCP_QUICKACK, measured there: 44 ms down to 3.)
      // Windows 10 1703 and later; elsewhere, and under Wine, the request
      // fails and nothing changes.
      DWORD ackEvery = 1, returned = 0;
      WSAIoctl(s, SIO_TCP_SET_ACK_FREQUENCY, &ackEvery, sizeof ackEvery, nullptr, 0, &returned,
               nullptr, nullptr);
      out = s;
      break;
    }
    closesocket(s);
    if (err == kSerialErrAbandoned || err == ETIMEDOUT) break;  // the budget is spent
  }
  if (list) freeaddrinfo(list);
  return err == ETIMEDOUT ? WSAETIMEDOUT : err;
}

// --- the connection's byte steps -------------------------------------------

// Marks the connection gone (the first cause stays); returns -1.
int Lost(NetLine& l, int err) {
  if (l.lostError == 0) l.lostError = err;
  return -1;
}

// One non-blocking receive: > 0 bytes, 0 none now, -1 the connection ended
// (closed by the peer reads as WSAECONNRESET).
int Receive(NetLine& l, uint8_t* buf, size_t n) {
  if (l.lostError != 0) return -1;
  if (n > INT_MAX) n = INT_MAX;
  const int r = recv(l.sock, reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
  if (r > 0) return r;
  if (r == 0) return Lost(l, WSAECONNRESET);
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINTR) return 0;
  return Lost(l, e);
}

// One non-blocking send: > 0 bytes taken, 0 no room now, -1 the end.
int Send(NetLine& l, const uint8_t* data, size_t n) {
  if (l.lostError != 0) return -1;
  if (n > INT_MAX) n = INT_MAX;
  const int r = send(l.sock, reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
  if (r >= 0) return r;
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINTR) return 0;
  return Lost(l, e);
}

// Sends what the RFC 2217 link owes the server, as far as the socket takes
// it: 0 all gone, kPending, or the connection's end.
int Flush(NetLine& l) {
  std::string& out = l.link->out;
  if (out.size() > kRemoteOutLimit) {  // the server never takes our answers
    Lost(l, WSAENOBUFS);
    return l.lostError;
  }
  while (!out.empty()) {
    const int n = Send(l, reinterpret_cast<const uint8_t*>(out.data()), out.size());
    if (n < 0) return l.lostError;
    if (n == 0) return kPending;
    out.erase(0, static_cast<size_t>(n));
  }
  return 0;
}

// Takes in what the socket has, as far as the link has room: how many
// bytes came, or -1 when the connection ended.
int RfcTakeIn(NetLine& l) {
  uint8_t raw[kRemoteDataBytes];
  const size_t room = Rfc2217LinkRoom(*l.link);
  if (room == 0) return 0;
  const int n = Receive(l, raw, room);
  if (n > 0) Rfc2217LinkFeed(*l.link, raw, static_cast<size_t>(n));
  return n;
}

// The wait of the connection sequence (see Rfc2217Pump).
int RfcPump(void* ctx, Rfc2217Link& link, uint64_t deadlineUs) {
  NetLine& l = *static_cast<NetLine*>(ctx);
  const int sent = Flush(l);
  if (sent > 0) return sent;
  int ready = 0;
  const int want = kReadable | (link.out.empty() ? 0 : kWritable);
  const int err = WaitOrEsc(l.sock, want, deadlineUs, ready);
  if (err != 0) return err;
  if (ready & (kReadable | kFailed)) {
    // Line data before the line is set up is noise; it must not block the
    // negotiation behind it.
    if (Rfc2217LinkRoom(link) == 0) link.dataLen = 0;
    if (RfcTakeIn(l) < 0) return l.lostError;
  }
  return 0;
}

// Line data now: > 0 bytes, 0 none, -1 the connection ended.
int ReadSome(NetLine& l, uint8_t* buf, size_t n) {
  if (!l.link) return Receive(l, buf, n);
  if (l.link->dataLen == 0) {
    Flush(l);
    if (RfcTakeIn(l) < 0 && l.link->dataLen == 0) return -1;
  }
  const size_t took = Rfc2217LinkTake(*l.link, buf, n);
  if (took > 0) return static_cast<int>(took);
  return l.lostError != 0 ? -1 : 0;
}

// Line data out: > 0 bytes taken, 0 no room now, -1 the end. On an RFC 2217
// line data is taken only when everything before it has gone, so what Flush
// still holds always belongs to the last piece taken.
int WriteSome(NetLine& l, const uint8_t* data, size_t n) {
  if (!l.link) return Send(l, data, n);
  int pending = Flush(l);
  if (pending == kPending) return 0;
  if (pending != 0) return -1;
  if (n > 1024) n = 1024;
  Rfc2217Send(l.link->codec, data, n, l.link->out);
  pending = Flush(l);
  if (pending > 0) return -1;
  return static_cast<int>(n);
}

// Sleeps until deadline in short steps, yielding between them.
void WaitUntil(uint64_t deadlineUs) {
  for (uint64_t now = MonotonicUs(); now < deadlineUs; now = MonotonicUs()) {
    const uint64_t left = (deadlineUs - now + 999) / 1000;
    SleepMs(static_cast<uint32_t>(left > 20 ? 20 : left));
    YieldPoint();
  }
}

}  // namespace

int NetOpen(const RemoteAddress& address, NetLine*& line) {
  line = nullptr;
  if (const int err = StartWinsock(); err != 0) return err;
  const uint64_t deadline = MonotonicUs() + kConnectLimitUs;
  auto l = std::make_unique<NetLine>();
  int err = Connect(address, deadline, l->sock);
  if (err != 0) return err;
  if (address.kind == RemoteKind::kRfc2217) {
    l->link = std::make_unique<Rfc2217Link>();
    err = Rfc2217LinkOpen(*l->link, RfcPump, l.get(), deadline);
    if (err != 0) {
      closesocket(l->sock);
      return err;
    }
  }
  line = l.release();
  return 0;
}

bool NetGetSettings(NetLine& l, SerialSettings& s) {
  s = l.settings;
  return true;
}

// Settings a line could run are accepted as asked (the letter and the stop
// bits read back as a device reads them); on an RFC 2217 line only once the
// server has confirmed them.
bool NetSetSettings(NetLine& l, const SerialSettings& s) {
  if (s.baud == 0 || s.dataBits < 5 || s.dataBits > 8) return SerialFail(ERROR_INVALID_PARAMETER);
  SerialSettings want = s;
  const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(s.parity)));
  want.parity = parity == 'E' || parity == 'O' ? parity : 'N';
  want.stopBits = s.stopBits == 2 ? 2 : 1;
  if (l.link) {
    Rfc2217Line line;
    line.baud = want.baud;
    line.dataBits = want.dataBits;
    line.parity = want.parity;
    line.stopBits = want.stopBits;
    const int err =
        Rfc2217LinkSetLine(*l.link, line, RfcPump, &l, MonotonicUs() + kSettingsLimitUs);
    if (err != 0) return SerialFail(err == EINVAL ? ERROR_INVALID_PARAMETER : err);
    want.flagsSet = false;  // the line runs without flow control
    Flush(l);  // answers owed since; what does not go now goes with the next write
  }
  l.settings = want;
  return true;
}

bool NetGetTimeouts(NetLine& l, SerialTimeouts& t) {
  t = l.timeouts;
  return true;
}

bool NetSetTimeouts(NetLine& l, const SerialTimeouts& t) {
  l.timeouts = t;
  return true;
}

bool NetPurge(NetLine& l) {
  uint8_t raw[4096];
  for (size_t taken = 0; taken < kDrainBytes;) {
    if (l.link) l.link->dataLen = 0;
    const int n = Receive(l, raw, sizeof raw);
    if (n <= 0) break;
    // On an RFC 2217 line what has arrived still passes the codec, so a
    // command cut by the purge keeps its framing; only its data is dropped.
    if (l.link) Rfc2217LinkFeed(*l.link, raw, static_cast<size_t>(n));
    taken += static_cast<size_t>(n);
  }
  if (l.link) {
    l.link->dataLen = 0;
    Rfc2217Purge(l.link->codec, l.link->out);
    Flush(l);
  }
  return true;
}

bool NetClearError(NetLine& l, uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  if (!l.link) {
    u_long n = 0;
    if (ioctlsocket(l.sock, FIONREAD, &n) != 0) return SerialFail(WSAGetLastError());
    bytesWaiting = static_cast<uint32_t>(n);
    return true;
  }
  // Telnet control is no line data: decode what is there to count it,
  // bounded so that a peer sending only control cannot hold the count.
  Flush(l);
  size_t taken = 0;
  while (taken < kDrainBytes && Rfc2217LinkRoom(*l.link) > 0) {
    const int n = RfcTakeIn(l);
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
  }
  bytesWaiting = static_cast<uint32_t>(l.link->dataLen);
  return true;
}

// Returns when count bytes have come or the total time-out (constant plus
// multiplier per byte) has passed. A total of 0 only takes what is there.
bool NetRead(NetLine& l, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  YieldPoint();
  const uint64_t totalMs = static_cast<uint64_t>(l.timeouts.readTotalConstant) +
                           static_cast<uint64_t>(l.timeouts.readTotalMultiplier) * count;
  const uint64_t deadline = MonotonicUs() + totalMs * 1000;
  bool lookedReadable = false;
  bool lost = false;
  while (got < count) {
    const int n = ReadSome(l, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lookedReadable = false;
      continue;
    }
    if (n < 0) {
      lost = true;
      break;
    }
    if (MonotonicUs() >= deadline) return true;
    // Readable yet empty (Telnet control bytes only): rest a little
    // instead of asking again at once.
    if (lookedReadable) SleepMs(1);
    lookedReadable = WaitSocket(l.sock, kReadable, deadline) != 0;
    YieldPoint();
  }
  if (!lost) return true;
  SerialFail(l.lostError);
  if (got > 0) return true;  // deliver what came; the next read reports it
  // A connection that is gone fails at once on every call; waiting out the
  // time-out keeps callers that poll in a loop from spinning.
  WaitUntil(deadline);
  return false;
}

bool NetWrite(NetLine& l, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  YieldPoint();
  uint64_t limitMs = static_cast<uint64_t>(l.timeouts.writeTotalConstant) +
                     static_cast<uint64_t>(l.timeouts.writeTotalMultiplier) * count;
  if (limitMs == 0) limitMs = kDefaultWriteLimitMs;
  const uint64_t deadline = MonotonicUs() + limitMs * 1000;
  // The data first, then whatever the codec still holds of it: the write
  // is done only when every byte is on its way.
  for (;;) {
    int pending = 0;
    if (written < count) {
      const int n = WriteSome(l, data + written, count - written);
      if (n > 0) {
        written += static_cast<uint32_t>(n);
        continue;
      }
      pending = n < 0 ? l.lostError : kPending;
    } else if (l.link) {
      pending = Flush(l);
    }
    if (pending == 0) return true;
    if (pending != kPending) return SerialFail(pending);
    // The output queue is full: wait for room, but not for ever.
    if (MonotonicUs() >= deadline) return SerialFail(WSAETIMEDOUT);
    WaitSocket(l.sock, kWritable, deadline);
    YieldPoint();
  }
}

void* NetWaitEvent(NetLine& l) {
  if (l.readable == WSA_INVALID_EVENT) {
    l.readable = WSACreateEvent();
    if (l.readable == WSA_INVALID_EVENT) return nullptr;
    // The socket is non-blocking already; the event changes nothing else.
    if (WSAEventSelect(l.sock, l.readable, FD_READ | FD_CLOSE) != 0) {
      WSACloseEvent(l.readable);
      l.readable = WSA_INVALID_EVENT;
      return nullptr;
    }
  }
  WSANETWORKEVENTS seen{};
  WSAEnumNetworkEvents(l.sock, l.readable, &seen);  // resets the event
  return l.readable;
}

bool NetLost(const NetLine& l) { return l.lostError != 0; }

void NetClose(NetLine* l) {
  if (!l) return;
  if (l->readable != WSA_INVALID_EVENT) WSACloseEvent(l->readable);
  closesocket(l->sock);
  delete l;
}

}  // namespace win32
