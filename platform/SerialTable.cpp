// Serial ports, the part every real system shares: which transport port n
// is, the table of open ports, and the time-outs, written once for every
// transport whose driver does not keep them (neither termios nor a socket
// has a place for them).
//
// Port n is what VEKTON_COM<n> names: tcp://HOST:PORT or rfc2217://HOST:PORT
// is a network line; anything else is the system's device (SerialDevicePath).
// A handle is a number of this table, never reused: a line that went away
// is opened again under it (SerialLineUp), so the program keeps its handle.
#include <cstdlib>
#include <map>
#include <string>

#include "platform/SerialPort.h"
#include "platform/TraceLine.h"

namespace {

std::map<SerialHandle, SerialPort> gPorts;
SerialHandle gNextHandle = 1;
int gLastError = 0;

// A write that the far end does not take is given up after this long when
// the port has no write time-out of its own.
constexpr uint64_t kDefaultWriteLimitMs = 1000;
// What a dead line's read waits out when its driver keeps time-outs the
// program never set.
constexpr uint64_t kUnsetDriverReadMs = 50;

// How each kind of port is opened.
struct SerialOpener {
  RemoteKind kind;
  int (*open)(const RemoteAddress&, SerialPort&);
};
constexpr SerialOpener kOpeners[] = {
    {RemoteKind::kDevice, SerialDeviceOpen},
    {RemoteKind::kTcp, NetOpen},
    {RemoteKind::kRfc2217, NetOpen},
};

int OpenByKind(const RemoteAddress& address, SerialPort& port) {
  for (const auto& o : kOpeners)
    if (o.kind == address.kind) return o.open(address, port);
  return kSerialErrBadAddress;
}

SerialPort* Find(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) {
    gLastError = kSerialCodes.badHandle;
    return nullptr;
  }
  return &it->second;
}

// An open port whose line is up; a port whose line is down fails the call.
SerialPort* FindUp(SerialHandle h) {
  SerialPort* p = Find(h);
  if (p && p->down) {
    gLastError = kSerialErrLineLost;
    return nullptr;
  }
  return p;
}

std::string PortName(const SerialPort& p) { return "COM" + std::to_string(p.number); }

// The line went away under the port: it stays down until SerialLineUp.
bool LineLost(SerialPort& p) {
  if (!p.down && TraceRecording())
    TraceEvent(trace::Word::kLost,
                   PortName(p) + " code " + std::to_string(p.lostError != 0 ? p.lostError : kSerialErrLineLost));
  p.down = true;
  return SerialFail(kSerialErrLineLost);
}

// A failed step: the line is lost when the transport found it gone.
bool StepFailed(SerialPort& p) { return p.lostError != 0 ? LineLost(p) : false; }

// Sleeps until deadline in short steps, yielding between them.
void WaitUntil(uint64_t deadlineUs) {
  for (;;) {
    SerialYield();
    const uint64_t now = SerialNowUs();
    if (now >= deadlineUs) return;
    const uint64_t left = deadlineUs - now;
    SerialSleepUs(left > kSerialSliceUs ? kSerialSliceUs : left);
  }
}

// The total read time-out of count bytes: constant plus multiplier per byte.
uint64_t ReadTotalMs(const SerialPort& p, uint32_t count) {
  if (!p.timeoutsSet && p.ops->driver) return kUnsetDriverReadMs;
  return static_cast<uint64_t>(p.timeouts.readTotalConstant) +
         static_cast<uint64_t>(p.timeouts.readTotalMultiplier) * count;
}

// Reopens a port whose line went away from where it was opened, with the
// settings and time-outs last set. 0 or the failure's code; p is untouched
// on failure.
int Reopen(SerialPort& p) {
  RemoteAddress address;
  int code = ParseRemoteAddress(p.setting, address);
  if (code != 0) return code;
  SerialPort q;
  q.number = p.number;
  q.setting = p.setting;
  q.state = p.state;
  if ((code = OpenByKind(address, q)) != 0) return code;
  gLastError = 0;
  bool ok = !p.settingsSet || q.ops->setSettings(q, p.lastSet);
  if (ok && p.timeoutsSet && q.ops->driver) ok = q.ops->driver->setTimeouts(q, p.timeouts);
  if (!ok) {
    code = gLastError != 0 ? gLastError : kSerialCodes.generic;
    q.ops->close(q);
    return code;
  }
  p.ops->close(p);
  q.timeouts = p.timeouts;
  q.timeoutsSet = p.timeoutsSet;
  q.settingsSet = p.settingsSet;
  q.lastSet = p.lastSet;
  p = std::move(q);
  return 0;
}

}  // namespace

bool SerialFail(int code) {
  gLastError = code;
  return false;
}

bool SerialWakeDue(SerialHandle line, uint64_t deadlineUs, WakeReason& why, SerialPort*& watch) {
  watch = nullptr;
  if (KeyPressed()) {
    why = WakeReason::kKey;
    return true;
  }
  auto it = line == kInvalidSerialHandle ? gPorts.end() : gPorts.find(line);
  if (it != gPorts.end() && !it->second.down && it->second.lostError == 0) {
    SerialPort& p = it->second;
    uint32_t waiting = 0;
    if (p.ops->waiting(p, waiting) && waiting > 0) {
      why = WakeReason::kLine;
      return true;
    }
    // The look may have found the connection gone.
    if (p.lostError == 0) watch = &p;
  }
  why = WakeReason::kDeadline;
  return SerialNowUs() >= deadlineUs;
}

// What VEKTON_COM<port> holds ("" without it).
std::string PortSetting(int port) {
  const std::string var = "VEKTON_COM" + std::to_string(port);
  const char* v = std::getenv(var.c_str());
  return v ? v : "";
}

std::string SerialPortLine(int port) {
  const std::string setting = PortSetting(port);
  RemoteAddress address;
  if (ParseRemoteAddress(setting, address) == 0 && address.kind != RemoteKind::kDevice) return setting;
  return SerialDevicePath(port, setting);
}

int SerialOpen(int port, SerialHandle& handle) {
  handle = kInvalidSerialHandle;
  if (port < 1 || port > 128) return gLastError = SerialNoDeviceError();
  SerialPort p;
  p.number = port;
  p.setting = PortSetting(port);
  RemoteAddress address;
  int code = ParseRemoteAddress(p.setting, address);
  if (code != 0) return gLastError = code;
  if (address.kind == RemoteKind::kDevice) {
    p.setting = SerialDevicePath(port, p.setting);
  } else {
    // Exclusive like a device: the port's one connection is its own.
    for (const auto& entry : gPorts)
      if (entry.second.number == port) return gLastError = kSerialCodes.busy;
  }
  if ((code = OpenByKind(address, p)) != 0) return gLastError = code;
  handle = gNextHandle++;
  gPorts[handle] = std::move(p);
  return 0;
}

bool SerialGetSettings(SerialHandle h, SerialSettings& s) {
  SerialPort* p = FindUp(h);
  return p && p->ops->getSettings(*p, s);
}

bool SerialSetSettings(SerialHandle h, const SerialSettings& s) {
  SerialPort* p = FindUp(h);
  if (!p || !p->ops->setSettings(*p, s)) return false;
  p->settingsSet = true;
  p->lastSet = s;
  return true;
}

// The time-outs live in the table, so a line that is down keeps them for its
// reopening; a driver that keeps its own is asked until the program sets them.
bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t) {
  SerialPort* p = Find(h);
  if (!p) return false;
  if (!p->timeoutsSet && p->ops->driver) {
    if (p->down) return SerialFail(kSerialErrLineLost);
    return p->ops->driver->getTimeouts(*p, t);
  }
  t = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t) {
  SerialPort* p = Find(h);
  if (!p) return false;
  if (!p->down && p->ops->driver && !p->ops->driver->setTimeouts(*p, t)) return false;
  p->timeouts = t;
  p->timeoutsSet = true;
  return true;
}

bool SerialPurge(SerialHandle h) {
  SerialPort* p = FindUp(h);
  if (p && TraceRecording()) TraceEvent(trace::Word::kPurge, {});
  return p && p->ops->purge(*p);
}

bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  SerialPort* p = FindUp(h);
  if (!p) return false;
  const bool ok = p->ops->waiting(*p, bytesWaiting) || StepFailed(*p);
  if (bytesWaiting == 0) TraceQuiet();
  return ok;
}

// Returns when count bytes have come or the total time-out (constant plus
// multiplier per byte) has passed. A total of 0 only takes what is there.
// The interval time-out is not used: the program sets it to 0.
bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  SerialPort* p = Find(h);
  if (!p) return false;
  const uint64_t deadline = SerialNowUs() + ReadTotalMs(*p, count) * 1000;
  if (p->down) {
    // Waiting out the time-out keeps callers that poll in a loop from spinning.
    WaitUntil(deadline);
    return SerialFail(kSerialErrLineLost);
  }
  bool failed = false;
  if (p->ops->driver) {
    failed = !p->ops->driver->read(*p, buffer, count, got);
    TraceRead(buffer, got);
    if (got < count) TraceQuiet();
  } else {
    bool lookedReadable = false;
    bool hungUp = false;
    while (got < count) {
      const long n = p->ops->readSome(*p, buffer + got, count - got);
      if (n > 0) {
        TraceRead(buffer + got, static_cast<size_t>(n));
        got += static_cast<uint32_t>(n);
        lookedReadable = false;
        continue;
      }
      TraceQuiet();
      // A hung-up terminal (its pseudo-terminal master closed, a USB adapter
      // pulled) reads as empty for ever and polls as ready.
      if (n < 0 || hungUp) {
        failed = true;
        break;
      }
      if (SerialNowUs() >= deadline) return true;
      // Readable yet empty (not a terminal at its end of file, or Telnet
      // control bytes only): rest a little instead of asking again at once.
      if (lookedReadable) SerialSleepUs(1000);
      SerialYield();
      const int ready = SerialWaitReady(p->sys, kSerialReadable, deadline);
      hungUp = (ready & kSerialFailed) != 0;
      lookedReadable = (ready & kSerialReadable) != 0;
    }
  }
  if (!failed) return true;
  // Any failure of a read is the line gone: the device, or the connection.
  LineLost(*p);
  if (got > 0) return true;  // deliver what came; the next read reports it
  // A port whose far end vanished fails at once on every call; waiting out
  // the time-out keeps callers that poll in a loop from spinning.
  WaitUntil(deadline);
  return false;
}

bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  SerialPort* p = FindUp(h);
  if (!p) return false;
  if (p->ops->driver) {
    const bool ok = p->ops->driver->write(*p, data, count, written);
    TraceWrote(data, written);
    return ok || LineLost(*p);
  }
  uint64_t limitMs = static_cast<uint64_t>(p->timeouts.writeTotalConstant) +
                     static_cast<uint64_t>(p->timeouts.writeTotalMultiplier) * count;
  if (limitMs == 0) limitMs = kDefaultWriteLimitMs;
  const uint64_t deadline = SerialNowUs() + limitMs * 1000;
  // The data first, then whatever the transport still holds of it: the
  // write is done only when every byte is on its way.
  for (;;) {
    int state = kSerialFlushDone;
    if (written < count) {
      const long n = p->ops->writeSome(*p, data + written, count - written);
      if (n > 0) {
        TraceWrote(data + written, static_cast<size_t>(n));
        written += static_cast<uint32_t>(n);
        continue;
      }
      state = n < 0 ? kSerialFlushFailed : kSerialFlushPending;
    } else if (p->ops->flushOut) {
      state = p->ops->flushOut(*p);
    }
    if (state == kSerialFlushDone) return true;
    // A write the line refuses (a device gone, a connection closed or
    // reset) is the line gone; one it only does not take in time is not.
    if (state == kSerialFlushFailed) return LineLost(*p);
    // The output queue is full: wait for room, but not for ever.
    if (SerialNowUs() >= deadline) return SerialFail(kSerialCodes.timedOut);
    SerialYield();
    const int ready = SerialWaitReady(p->sys, kSerialWritable, deadline);
    if ((ready & kSerialFailed) && !(ready & kSerialWritable)) return LineLost(*p);
  }
}

void SerialClose(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) return;
  if (TraceRecording()) TraceEvent(trace::Word::kClose, PortName(it->second));
  it->second.ops->close(it->second);
  gPorts.erase(it);
}

int SerialLastError() { return gLastError; }

bool SerialLineUp(SerialHandle h) {
  SerialPort* p = Find(h);
  if (!p) return false;
  if (!p->down) return true;
  if (!p->reopen.Due(SerialNowUs())) return SerialFail(kSerialErrLineLost);
  if (const int code = Reopen(*p); code != 0) return SerialFail(code);
  if (TraceRecording()) TraceEvent(trace::Word::kBack, PortName(*p));
  return true;
}
