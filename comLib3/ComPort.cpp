// The serial port link: ports opened by number, their handles kept in one
// table, and the raw reads and writes the host-link layer and the direct
// command console build on.
#include <cstring>

#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"
#include "platform/Serial.h"

SerialHandle PortHandles[kMaxComPorts + 1];

namespace {

bool InTable(int port) { return port >= 1 && port <= kMaxComPorts; }

SerialHandle Entry(int port) { return InTable(port) ? PortHandles[port] : kInvalidSerialHandle; }

// The state of each port's line after a hang-up, and the losses counted.
struct LineRecord {
  bool down = false;
  bool givenUp = false;  // Esc ended a wait for it: later waits return at once
  TimeStamp since, lap;
};
LineRecord Lines[kMaxComPorts + 1];
uint32_t LossCount = 0;
int64_t LossHundredths = 0;  // of the losses that have ended
LineWaitHook WaitHook = nullptr;

void MarkDown(int port) {
  LineRecord& r = Lines[port];
  if (r.down) return;
  r.down = true;
  StopwatchStart(r.since, r.lap);
  ++LossCount;
}

void MarkUp(int port) {
  LineRecord& r = Lines[port];
  if (r.down) {
    TimeStamp now;
    LossHundredths += StopwatchRead(r.since, now);
  }
  r = LineRecord{};
}

// A failed open is reported on the screen and waits for the operator to see it.
void ReportOpenFailure(int port, int code) {
  WriteText("Invalid Port Number: ");
  WriteInt(port);
  WriteText("   E");
  WriteInt(code);
  FlushOutput();
  if (ReadKey() == 0) ReadKey();  // an extended key brings its scan code too
}

// A failure code that is never 0, even when the system gave none.
int FailureCode() {
  int code = SerialLastError();
  return code != 0 ? code : SerialNoDeviceError();
}

}  // namespace

uint32_t ComReadTimeoutMs(uint32_t baud) {
  if (baud == 0) return 0;
  return (500000u + baud / 2) / baud;
}

namespace {

// The opening itself: 0 or the failure's code. shown says whether the
// operator is to see the failure (the port itself could not be opened).
int OpenPort(int port, uint32_t baud, char parity, uint8_t dataBits, uint8_t stopBits, bool& shown) {
  shown = false;
  if (!InTable(port)) {
    // No table entry to keep a handle in: report it like a missing device.
    shown = true;
    return SerialNoDeviceError();
  }
  SerialHandle h = kInvalidSerialHandle;
  int code = SerialOpen(port, h);
  if (code != 0) {
    PortHandles[port] = kInvalidSerialHandle;
    shown = true;
    return code;
  }

  // A port whose line settings or time-outs cannot be set is of no use: the
  // bytes would be wrong or a read could block for ever. Close it again.
  SerialSettings s;
  if (!SerialGetSettings(h, s)) {
    code = FailureCode();
    SerialClose(h);
    return code;
  }
  s.baud = baud;
  s.dataBits = dataBits;
  s.parity = parity;
  s.stopBits = stopBits;
  s.flagsSet = false;
  if (!SerialSetSettings(h, s)) {
    code = FailureCode();
    SerialClose(h);
    return code;
  }

  SerialTimeouts t;
  SerialGetTimeouts(h, t);  // keeps the driver's write time-outs when it can
  t.readInterval = 0;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = ComReadTimeoutMs(baud);
  if (!SerialSetTimeouts(h, t)) {
    code = FailureCode();
    SerialClose(h);
    return code;
  }
  MarkUp(port);  // a port opened afresh starts with its line up
  PortHandles[port] = h;
  return 0;
}

}  // namespace

int ComOpen(int port, uint16_t baud, char parity, uint8_t dataBits, uint16_t stopBits) {
  const char p = UpCase(parity);
  const char lineParity = p == 'E' ? 'E' : p == 'O' ? 'O' : 'N';
  const uint8_t lineStop = stopBits == 2 ? 2 : 1;
  bool shown = false;
  const int code = OpenPort(port, baud, lineParity, dataBits, lineStop, shown);
  // On the trace before the operator's key, when the open happened.
  NotePortOpen(port, baud, lineParity, dataBits, lineStop, code);
  if (shown) ReportOpenFailure(port, code);
  return code;
}

bool ComNoteFailure(int port) {
  if (Entry(port) == kInvalidSerialHandle || SerialLastError() != kSerialErrLineLost) return false;
  MarkDown(port);
  return true;
}

bool ComLineUp(int port) {
  const SerialHandle h = Entry(port);
  if (h == kInvalidSerialHandle) return false;
  if (SerialLineUp(h)) {
    MarkUp(port);
    return true;
  }
  MarkDown(port);
  return false;
}

bool ComAwaitLine(int port) {
  if (Entry(port) == kInvalidSerialHandle) return false;
  if (ComLineUp(port)) return true;
  if (Lines[port].givenUp) return false;
  for (;;) {
    if (PollKey() == kEsc) {
      Lines[port].givenUp = true;
      return false;
    }
    if (WaitHook) WaitHook(port);
    ComWait(50, 0);
    if (ComLineUp(port)) return true;
  }
}

void SetLineWaitHook(LineWaitHook hook) { WaitHook = hook; }

LineLosses ComLineLosses() {
  LineLosses l;
  l.count = LossCount;
  l.downHundredths = LossHundredths;
  for (int port = 1; port <= kMaxComPorts; ++port) {
    if (!Lines[port].down) continue;
    TimeStamp now;
    l.downHundredths += StopwatchRead(Lines[port].since, now);
    l.down = true;
    l.wentAt = Lines[port].since;
  }
  return l;
}

void ComLinesReset() {
  for (auto& r : Lines) r = LineRecord{};
  LossCount = 0;
  LossHundredths = 0;
}

void ComPurge(int port) {
  SerialHandle h = Entry(port);
  if (h != kInvalidSerialHandle) SerialPurge(h);
}

bool ComClearError(int port) {
  SerialHandle h = Entry(port);
  if (h < 0) return false;
  uint32_t waiting = 0;
  if (!SerialClearError(h, waiting)) ComNoteFailure(port);
  return waiting > 0;
}

int ComReadChar(int port, char& ch) {
  SerialHandle h = Entry(port);
  if (h < 0) return -1;
  if (!ComClearError(port)) return 0;
  uint8_t b = 0;
  uint32_t got = 0;
  if (!SerialRead(h, &b, 1, got)) {
    ComNoteFailure(port);
    return -1;
  }
  if (got > 0) ch = static_cast<char>(b);
  return static_cast<int>(got);
}

int ComReadRaw(int port, uint8_t* buffer, int count) {
  SerialHandle h = Entry(port);
  if (h < 0 || count <= 0) return -1;
  uint32_t got = 0;
  if (!SerialRead(h, buffer, static_cast<uint32_t>(count), got)) {
    ComNoteFailure(port);
    return -1;
  }
  return static_cast<int>(got);
}

int ComWriteByte(int port, uint8_t byte) {
  SerialHandle h = Entry(port);
  if (h < 0) return 0;
  uint32_t written = 0;
  if (!SerialWrite(h, &byte, 1, written)) ComNoteFailure(port);
  return static_cast<int>(written);
}

int ComWrite(int port, const ShortStr& text) {
  if (EscAbort) return 0;
  uint8_t line[ShortStr::kMax + 1];
  std::memcpy(line, text.data(), text.size());
  line[text.size()] = 13;
  uint32_t written = 0;
  for (;;) {
    ComPurge(port);
    SerialHandle h = Entry(port);
    if (h == kInvalidSerialHandle) break;
    if (SerialWrite(h, line, static_cast<uint32_t>(text.size() + 1), written)) break;
    // A line that went away before the CR went out: the store cannot have
    // taken the command, so it goes again, whole, once the line is back.
    if (!ComNoteFailure(port) || !ComAwaitLine(port)) break;
  }
  Delay(1);
  return static_cast<int>(written);
}

int ComReadLine(int port, ShortStr& dest, int capacity, int mode, char a, char b) {
  if (Entry(port) < 0) return -1;
  if (PollKey() == kEsc) return 0;
  if (!ComClearError(port)) return 0;
  if (capacity < 0) capacity = 0;

  if (mode == 0) {
    uint8_t buf[ShortStr::kMax];
    int want = static_cast<uint8_t>(a);
    if (want == 0) want = ShortStr::kMax;
    int got = ComReadRaw(port, buf, want);
    if (got < 0) return -1;
    int keep = got < capacity ? got : capacity;
    dest.Assign(std::string_view(reinterpret_cast<const char*>(buf), static_cast<size_t>(keep)));
    return got;
  }

  // Line read (mode 1) ends at either end character; any other mode reads
  // until the line has been quiet for about 11 ms.
  const bool byEndChar = mode == 1;
  const int idleStep = byEndChar ? 1 : 10;
  ShortStr text;
  bool ended = false;
  int idle = 0;
  int last = 0;
  char lastByte = 0;
  bool any = false;
  while (!ended && idle <= 100 && last != -1 && PollKey() != kEsc) {
    char ch = 0;
    last = ComReadChar(port, ch);
    if (last > 0) {
      text.Append(ch);
      lastByte = ch;
      any = true;
      idle = 0;
      if (byEndChar && (ch == a || ch == b)) ended = true;
      // A controller that streams without ever ending its line must not keep
      // the reader here: a full text is as much as one line can hold.
      if (text.size() >= ShortStr::kMax) break;
    } else {
      if (PollKey() != kEsc) Delay(1);
      idle += idleStep;
    }
  }
  ShortStr result = text;
  if (byEndChar && !(any && (lastByte == a || lastByte == b))) result = "auxStrIn Error";
  result.Truncate(static_cast<size_t>(capacity));
  dest = result;
  return static_cast<int>(text.size());
}

WakeReason ComWait(uint32_t maxMs, int port) {
  // An Esc already taken is still the operator's word: no wait outlasts it.
  if (EscAbort) return WakeReason::kKey;
  return PlatformWait(maxMs, Entry(port));
}

void ComClose(int port) {
  if (!InTable(port)) return;
  MarkUp(port);
  if (PortHandles[port] != kInvalidSerialHandle) SerialClose(PortHandles[port]);
  PortHandles[port] = kInvalidSerialHandle;
}
