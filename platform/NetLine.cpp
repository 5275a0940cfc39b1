// A serial port across the network, on every system: a raw TCP connection,
// or Telnet with the COM Port Control option (RFC 2217: the codec in
// platform/Rfc2217.h, the connection sequence in platform/RemoteLine.h).
// The system's sockets (NetSocket.h) only carry the bytes; the sockets are
// non-blocking and the serial table waits on them as on a terminal.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/NetSocket.h"
#include "platform/SerialPort.h"

namespace {

// Connecting, name resolution included, never takes longer than this.
constexpr uint64_t kConnectLimitUs = 3000000;
// How long the server has to confirm the line settings.
constexpr uint64_t kSettingsLimitUs = 1000000;
// A purge or a count takes at most this much of what has arrived, so a
// peer that floods the line cannot hold it; the rest is left for the reads.
constexpr size_t kDrainBytes = 256 * 1024;
// The most line data one write step encodes for an RFC 2217 line.
constexpr size_t kRfcWriteStep = 1024;

// --- connecting ---------------------------------------------------------------

// Waits for s (or, without a socket, only for time) until it is ready,
// deadlineUs passes or Esc is typed, in short steps. 0 and the SerialReady
// bits, ETIMEDOUT, or kSerialErrAbandoned.
int WaitOrEsc(NetSocket s, int want, uint64_t deadlineUs, int& ready) {
  ready = 0;
  for (;;) {
    SerialYield();
    if (SerialEscQueued()) return kSerialErrAbandoned;
    const uint64_t now = SerialNowUs();
    if (now >= deadlineUs) return ETIMEDOUT;
    uint64_t left = deadlineUs - now;
    if (left > kSerialSliceUs) left = kSerialSliceUs;
    if (s == kNoSocket) {
      SerialSleepUs(left);
      return 0;
    }
    ready = SerialWaitReady(s, want, now + left);
    if (ready != 0) return 0;
  }
}

// A name lookup on a helper thread: a lookup cannot be told to give up, so
// the waiter leaves at its deadline (or on Esc) and the helper, when it is
// done, drops the last reference to what it found.
struct Lookup {
  std::mutex m;
  bool done = false;
  int rc = 0;
  std::vector<NetAddress> result;
  std::string host, service;
};

void RunLookup(std::shared_ptr<Lookup> l) {
  std::vector<NetAddress> found;
  const int rc = NetLookup(l->host, l->service, false, found);
  std::lock_guard<std::mutex> lock(l->m);
  l->rc = rc;
  l->result = std::move(found);
  l->done = true;
}

// Names under .invalid never resolve (RFC 6761); asking a name server
// about them would only cost time. The root's dot may end the name.
bool NeverResolves(const std::string& host) {
  std::string lower;
  for (char c : host) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!lower.empty() && lower.back() == '.') lower.pop_back();
  return lower == "invalid" ||
         (lower.size() > 8 && lower.compare(lower.size() - 8, 8, ".invalid") == 0);
}

// Resolves address; 0 and the list, or the error.
int Resolve(const RemoteAddress& a, uint64_t deadlineUs, std::vector<NetAddress>& out) {
  out.clear();
  // An address needs no lookup and cannot block.
  const int rc = NetLookup(a.host, a.port, true, out);
  if (rc != kSerialErrHostNotFound) return rc;
  if (NeverResolves(a.host)) return kSerialErrHostNotFound;

  auto lookup = std::make_shared<Lookup>();
  lookup->host = a.host;
  lookup->service = a.port;
  try {
    std::thread(RunLookup, lookup).detach();
  } catch (const std::system_error&) {
    return kSerialCodes.noThread;  // no thread to look the name up on
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(lookup->m);
      if (lookup->done) {
        if (lookup->rc != 0) return lookup->rc;
        out = std::move(lookup->result);
        return 0;
      }
    }
    int ready;
    const int err = WaitOrEsc(kNoSocket, 0, deadlineUs, ready);
    if (err != 0) return err;
  }
}

// Connects to the first address that takes the connection. 0 and the
// socket, or the error of the last attempt (a time-out as the system's code).
int Connect(const RemoteAddress& a, uint64_t deadlineUs, NetSocket& out) {
  out = kNoSocket;
  std::vector<NetAddress> list;
  int err = Resolve(a, deadlineUs, list);
  if (err == 0) err = kSerialCodes.hostUnreachable;
  else list.clear();
  for (const NetAddress& address : list) {
    NetSocket s = kNoSocket;
    err = NetConnect(address, s);
    if (s == kNoSocket) continue;
    if (err == kNetInProgress) {
      int ready = 0;
      do err = WaitOrEsc(s, kSerialWritable, deadlineUs, ready);
      while (err == 0 && ready == 0);
      if (err == 0) err = NetConnected(s, ready);
    } else if (err == 0) {
      err = NetConnected(s, kSerialWritable);
    }
    if (err == 0) {
      out = s;
      break;
    }
    NetCloseSocket(s);
    if (err == kSerialErrAbandoned || err == ETIMEDOUT) break;  // the budget is spent
  }
  return err == ETIMEDOUT ? kSerialCodes.timedOut : err;
}

// --- the connection's byte steps --------------------------------------------

// Marks the connection gone (the first cause stays); returns -1.
long Lost(SerialPort& p, int err) {
  if (p.lostError == 0) p.lostError = err;
  return -1;
}

// One non-blocking receive: > 0 bytes, 0 none now, -1 the connection ended.
long Receive(SerialPort& p, uint8_t* buf, size_t n) {
  if (p.lostError != 0) return -1;
  int err = 0;
  const long r = NetReceive(p.sys, buf, n, err);
  return r < 0 ? Lost(p, err) : r;
}

// One non-blocking send: > 0 bytes taken, 0 no room now, -1 the end.
long Send(SerialPort& p, const uint8_t* data, size_t n) {
  if (p.lostError != 0) return -1;
  int err = 0;
  const long r = NetSend(p.sys, data, n, err);
  return r < 0 ? Lost(p, err) : r;
}

// Settings a line could run: accepted and remembered as asked (the letter
// and stop bits read as a device reads them).
bool Normalise(const SerialSettings& in, SerialSettings& out) {
  if (in.baud == 0 || in.dataBits < 5 || in.dataBits > 8) return SerialFail(kSerialCodes.invalid);
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

intptr_t WaitObject(SerialPort& p) { return NetWaitObject(p.sys); }

void Close(SerialPort& p) { NetCloseSocket(p.sys); }

// --- raw TCP -----------------------------------------------------------------------

bool TcpSetSettings(SerialPort& p, const SerialSettings& s) { return Normalise(s, p.settings); }

bool TcpPurge(SerialPort& p) {
  uint8_t buf[4096];
  for (size_t taken = 0; taken < kDrainBytes;) {
    const long n = Receive(p, buf, sizeof buf);
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
  }
  return true;
}

bool TcpWaiting(SerialPort& p, uint32_t& bytesWaiting) {
  int err = 0;
  if (!NetPending(p.sys, bytesWaiting, err)) return SerialFail(err);
  return true;
}

constexpr SerialTransport kTcp = {GetSettings, TcpSetSettings, TcpPurge, TcpWaiting, Receive,
                                  Send, nullptr, WaitObject, Close};

// --- RFC 2217 ------------------------------------------------------------------------

// Sends what the link owes the server, as far as the socket takes it.
int RfcFlush(SerialPort& p) {
  std::string& out = p.link->out;
  if (out.size() > kRemoteOutLimit) {  // the server never takes our answers
    Lost(p, kSerialCodes.noBuffers);
    return kSerialFlushFailed;
  }
  while (!out.empty()) {
    const long n = Send(p, reinterpret_cast<const uint8_t*>(out.data()), out.size());
    if (n < 0) return kSerialFlushFailed;
    if (n == 0) return kSerialFlushPending;
    out.erase(0, static_cast<size_t>(n));
  }
  return kSerialFlushDone;
}

// Takes in what the socket has, as far as the link has room: how many
// bytes came, or -1 when the connection ended.
long RfcTakeIn(SerialPort& p) {
  uint8_t raw[kRemoteDataBytes];
  const size_t room = Rfc2217LinkRoom(*p.link);
  if (room == 0) return 0;
  const long n = Receive(p, raw, room);
  if (n > 0) Rfc2217LinkFeed(*p.link, raw, static_cast<size_t>(n));
  return n;
}

// The wait of the connection sequence (see Rfc2217Pump).
int RfcPump(void* ctx, Rfc2217Link& l, uint64_t deadlineUs) {
  SerialPort& p = *static_cast<SerialPort*>(ctx);
  if (RfcFlush(p) == kSerialFlushFailed) return p.lostError;
  int ready = 0;
  const int want = kSerialReadable | (l.out.empty() ? 0 : kSerialWritable);
  const int err = WaitOrEsc(p.sys, want, deadlineUs, ready);
  if (err != 0) return err;
  if (ready & (kSerialReadable | kSerialFailed)) {
    // Line data before the line is set up is noise; it must not block the
    // negotiation behind it.
    if (Rfc2217LinkRoom(l) == 0) l.dataLen = 0;
    if (RfcTakeIn(p) < 0) return p.lostError;
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
  const int err =
      Rfc2217LinkSetLine(*p.link, line, RfcPump, &p, SerialNowUs() + kSettingsLimitUs);
  if (err != 0) return SerialFail(err == EINVAL ? kSerialCodes.invalid : err);
  want.flagsSet = false;  // the line runs without flow control
  p.settings = want;
  RfcFlush(p);  // answers owed since; what does not go now goes with the next write
  return true;
}

bool RfcPurge(SerialPort& p) {
  // What has arrived still passes the codec, so a command cut by the purge
  // keeps its framing; only its data is dropped.
  uint8_t raw[4096];
  for (size_t taken = 0; taken < kDrainBytes;) {
    p.link->dataLen = 0;
    const long n = Receive(p, raw, sizeof raw);
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
  for (size_t taken = 0; taken < kDrainBytes && Rfc2217LinkRoom(*p.link) > 0;) {
    const long n = RfcTakeIn(p);
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
  }
  bytesWaiting = static_cast<uint32_t>(p.link->dataLen);
  return true;
}

long RfcReadSome(SerialPort& p, uint8_t* buf, size_t n) {
  if (p.link->dataLen == 0) {
    RfcFlush(p);
    if (RfcTakeIn(p) < 0 && p.link->dataLen == 0) return -1;
  }
  const size_t took = Rfc2217LinkTake(*p.link, buf, n);
  if (took > 0) return static_cast<long>(took);
  return p.lostError != 0 ? -1 : 0;
}

// Takes data only when everything before it has gone, so the bytes that
// flushOut still holds always belong to the last piece taken.
long RfcWriteSome(SerialPort& p, const uint8_t* data, size_t n) {
  const int before = RfcFlush(p);
  if (before != kSerialFlushDone) return before == kSerialFlushPending ? 0 : -1;
  if (n > kRfcWriteStep) n = kRfcWriteStep;
  Rfc2217Send(p.link->codec, data, n, p.link->out);
  if (RfcFlush(p) == kSerialFlushFailed) return -1;
  return static_cast<long>(n);
}

constexpr SerialTransport kRfc2217 = {GetSettings, RfcSetSettings, RfcPurge,   RfcWaiting, RfcReadSome,
                                      RfcWriteSome, RfcFlush,     WaitObject, Close};

}  // namespace

void NetAddressAdd(std::vector<NetAddress>& out, int family, int socktype, int protocol,
                   const void* address, size_t len) {
  NetAddress a;
  if (len > sizeof a.bytes) return;
  a.family = family;
  a.socktype = socktype;
  a.protocol = protocol;
  a.len = static_cast<uint32_t>(len);
  std::memcpy(a.bytes, address, len);
  out.push_back(a);
}

int NetOpen(const RemoteAddress& address, SerialPort& port) {
  const uint64_t deadline = SerialNowUs() + kConnectLimitUs;
  NetSocket s = kNoSocket;
  int err = Connect(address, deadline, s);
  if (err != 0) return err;
  port.sys = s;
  if (address.kind == RemoteKind::kTcp) {
    port.ops = &kTcp;
    return 0;
  }
  port.ops = &kRfc2217;
  port.link = std::make_unique<Rfc2217Link>();
  err = Rfc2217LinkOpen(*port.link, RfcPump, &port, deadline);
  if (err == 0) return 0;
  NetCloseSocket(s);
  port.sys = kNoSocket;
  port.link.reset();
  return err;
}
