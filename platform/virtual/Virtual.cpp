#include "platform/virtual/Virtual.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform/Crt.h"
#include "platform/Platform.h"
#include "platform/Process.h"
#include "platform/ScreenFit.h"
#include "platform/ScreenModel.h"
#include "platform/Serial.h"
#include "platform/System.h"
#include "platform/TextFile.h"
#include "platform/Trace.h"
#include "platform/TraceLine.h"

namespace vt {
namespace {

struct KeyEvent {
  uint64_t atUs;
  uint8_t byte;
};

struct State {
  uint64_t nowUs = 0;
  int64_t baseHundredths = 10 * 360000;  // time of day at nowUs = 0
  int baseYear = 2026, baseMonth = 12, baseDay = 8;
  std::deque<KeyEvent> keys;
  std::function<bool()> feeder;
  std::map<int, PortState> ports;
  std::map<std::string, std::string> env;
  std::map<std::string, std::vector<std::string>> files;
  std::set<std::string> unterminated;  // files whose last line has no line end
  std::vector<std::string> openFiles;  // handle -> path
  bool readOnly = false;
  uint16_t dosVersion = 0x000A;  // low byte (major) 10, above 6, like a current Windows
  std::vector<PlatformExitHook> exitHooks;
  int lastError = 0;
  uint64_t idleCalls = 0;  // calls that looked at time or input while it stood still
  uint64_t sleepCalls = 0;  // Delay and PlatformWait calls
  // The display (SetDisplaySize): none while display is empty.
  struct Resize {
    uint64_t atUs;
    int cols, rows;
  };
  std::deque<Resize> resizes;  // in time order
  ScreenFit fit;
  std::vector<std::string> display;
  unsigned redraws = 0;
  // Trace files: writes fail with traceFailCode once traceBudget bytes have
  // gone (no limit while traceFailCode is 0).
  int traceFailCode = 0;
  uint64_t traceBudget = 0;
  ProgramRunner runner;
  unsigned tempFolders = 0;
};

State& S() {
  static State s;
  return s;
}

constexpr uint64_t kSpinLimit = 20'000'000;

void NoteIdle() {
  if (++S().idleCalls > kSpinLimit) {
    S().idleCalls = 0;
    throw Spin();
  }
}

void Advance(uint64_t us) {
  if (us == 0) return;
  S().nowUs += us;
  S().idleCalls = 0;
}

class PortSink : public Sink {
 public:
  explicit PortSink(PortState& p) : p_(p) {}
  void Send(uint64_t atUs, std::string_view bytes) override {
    for (char c : bytes) {
      // Keep arrival order: a piece can never overtake one sent before it.
      uint64_t t = p_.rx.empty() ? atUs : std::max(atUs, p_.rx.back().first);
      p_.rx.emplace_back(t, static_cast<uint8_t>(c));
    }
  }

 private:
  PortState& p_;
};

// The open port's line goes down (once: a line that is down stays so).
void LineGoes(PortState& p, int port) {
  if (!p.lineDown && TraceRecording())
    TraceEvent(trace::Word::kLost, "COM" + std::to_string(port) + " code " + std::to_string(kSerialErrLineLost));
  p.lineDown = true;
}

// The scripted hang-ups and returns that are due by now.
void ApplyScript(PortState& p, int port) {
  if (p.vanishAtUs != 0 && S().nowUs >= p.vanishAtUs) {
    p.vanished = true;
    p.vanishAtUs = 0;
    if (p.open) LineGoes(p, port);  // even when it is back by now: a new device
  }
  if (p.backAtUs != 0 && S().nowUs >= p.backAtUs) {
    p.vanished = false;
    p.backAtUs = 0;
  }
  if (p.open && p.vanished) LineGoes(p, port);
}

PortState* ByHandle(SerialHandle h) {
  auto it = S().ports.find(static_cast<int>(h));
  if (it == S().ports.end() || !it->second.open) {
    S().lastError = EBADF;
    return nullptr;
  }
  ApplyScript(it->second, it->first);
  if (it->second.lineDown) {
    S().lastError = kSerialErrLineLost;
    return nullptr;
  }
  return &it->second;
}

void PeerCatchUp(PortState& p) {
  if (!p.peer) return;
  PortSink sink(p);
  p.peer->AdvanceTo(S().nowUs, sink);
}

size_t ArrivedCount(const PortState& p) {
  size_t n = 0;
  for (auto& e : p.rx) {
    if (e.first > S().nowUs) break;
    ++n;
  }
  return n;
}

// Days since 1970-01-01 for a civil date, and back (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
void CivilFromDays(long z, int& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

void Now(int64_t& hundredthsOfDay, long& day) {
  int64_t total = S().baseHundredths + static_cast<int64_t>(S().nowUs / 10000);
  day = DaysFromCivil(S().baseYear, S().baseMonth, S().baseDay) + static_cast<long>(total / 8640000);
  hundredthsOfDay = total % 8640000;
}

// The presenter, run at every yield: a pending size change first (the
// message, or the whole screen anew), then the changed cells while the
// screen fits. While it does not, the cells stay marked as changed.
void Present() {
  State& s = S();
  if (s.resizes.empty() && s.display.empty()) return;  // no display (yet)
  bool resized = false;
  while (!s.resizes.empty() && s.resizes.front().atUs <= s.nowUs) {
    s.fit = JudgeDisplaySize(s.resizes.front().cols, s.resizes.front().rows);
    s.resizes.pop_front();
    resized = true;
  }
  if (resized) {
    s.display.assign(static_cast<size_t>(s.fit.rows), std::string(static_cast<size_t>(s.fit.cols), ' '));
    if (s.fit.fits) {
      gScreen.MarkAllDirty();
      ++s.redraws;
    } else {
      for (size_t y = 0; y < s.fit.lines.size(); ++y) s.display[y].replace(0, s.fit.lines[y].size(), s.fit.lines[y]);
    }
  }
  if (s.display.empty() || !s.fit.fits || !gScreen.anyDirty) return;
  for (int y = 0; y < ScreenModel::kRows; ++y)
    for (int x = 0; x < ScreenModel::kCols; ++x)
      if (gScreen.dirty[y][x]) {
        s.display[static_cast<size_t>(y)][static_cast<size_t>(x)] = static_cast<char>(gScreen.cells[y][x].ch);
        gScreen.dirty[y][x] = false;
      }
  gScreen.anyDirty = false;
}

}  // namespace

void SetDisplaySize(int cols, int rows) { SetDisplaySizeAt(S().nowUs, cols, rows); }

void SetDisplaySizeAt(uint64_t atUs, int cols, int rows) {
  State& s = S();
  auto at = std::upper_bound(s.resizes.begin(), s.resizes.end(), atUs,
                             [](uint64_t t, const State::Resize& r) { return t < r.atUs; });
  s.resizes.insert(at, State::Resize{atUs, cols, rows});
}

std::vector<std::string> DisplayRows() { return S().display; }
unsigned DisplayRedraws() { return S().redraws; }

void Reset() {
  State& s = S();
  s = State{};
  gScreen.Reset();
  TraceStop();
}

void FailTraceWritesAfter(uint64_t bytes, int code) {
  S().traceBudget = bytes;
  S().traceFailCode = code;
}

uint64_t NowUs() { return S().nowUs; }
void AdvanceUs(uint64_t us) { Advance(us); }
uint64_t SleepCalls() { return S().sleepCalls; }

void SetTimeOfDay(int hour, int minute, int second, int hundredths) {
  int64_t h = hour * 360000LL + minute * 6000LL + second * 100LL + hundredths;
  S().baseHundredths = h - static_cast<int64_t>(S().nowUs / 10000);
}

void SetDate(int year, int month, int day) {
  S().baseYear = year, S().baseMonth = month, S().baseDay = day;
}

void PushKeys(std::string_view bytes) { PushKeysAt(S().nowUs, bytes); }

void PushKeysAt(uint64_t atUs, std::string_view bytes) {
  for (char c : bytes) S().keys.push_back({atUs, static_cast<uint8_t>(c)});
  std::stable_sort(S().keys.begin(), S().keys.end(),
                   [](const KeyEvent& a, const KeyEvent& b) { return a.atUs < b.atUs; });
}

void PushExtended(uint8_t scanCode) {
  std::string two{'\0', static_cast<char>(scanCode)};
  PushKeys(two);
}

void SetKeyFeeder(std::function<bool()> feeder) { S().feeder = std::move(feeder); }
size_t PendingKeys() { return S().keys.size(); }

PortState& AttachPort(int port, SerialPeer* peer) {
  PortState& p = S().ports[port];
  p.peer = peer;
  p.exists = true;
  return p;
}

PortState& Port(int port) { return S().ports[port]; }

std::string WrittenText(int port) {
  std::string s;
  for (auto& w : Port(port).written) s.push_back(static_cast<char>(w.byte));
  return s;
}

std::vector<std::string> WrittenLines(int port) {
  std::vector<std::string> lines;
  std::string cur;
  for (auto& w : Port(port).written) {
    if (w.byte == 13) {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(w.byte));
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

std::vector<uint64_t> WrittenLineTimes(int port) {
  std::vector<uint64_t> t;
  for (auto& w : Port(port).written)
    if (w.byte == 13) t.push_back(w.atUs);
  return t;
}

void ClearWritten(int port) { Port(port).written.clear(); }

void ScriptedPeer::OnByte(uint8_t byte, uint64_t tUs, Sink& out) {
  if (byte != 13) {
    if (current_.size() < 4096) current_.push_back(static_cast<char>(byte));
    return;
  }
  std::string line = current_;
  current_.clear();
  lines_.push_back(line);
  Rule rule = default_;
  auto it = rules_.find(line);
  if (it != rules_.end()) {
    rule = it->second;
  } else if (func_) {
    Rule r;
    if (func_(line, r)) rule = r;
  }
  if (rule.silent) return;
  std::string bytes = rule.raw ? rule.answer : rule.answer + "\r\n";
  uint64_t at = tUs + rule.delayUs;
  if (rule.splitAt > 0 && rule.splitAt < bytes.size()) {
    out.Send(at, std::string_view(bytes).substr(0, rule.splitAt));
    out.Send(at + rule.splitGapUs, std::string_view(bytes).substr(rule.splitAt));
  } else {
    out.Send(at, bytes);
  }
}

void SetEnv(std::string_view name, std::string_view value) { S().env[std::string(name)] = value; }

void PutFile(std::string_view path, std::string_view content) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : content) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) {
    lines.push_back(cur);
    S().unterminated.insert(std::string(path));
  } else {
    S().unterminated.erase(std::string(path));
  }
  S().files[std::string(path)] = lines;
}

bool FileExists(std::string_view path) { return S().files.count(std::string(path)) > 0; }

std::vector<std::string> FileLines(std::string_view path) {
  auto it = S().files.find(std::string(path));
  return it == S().files.end() ? std::vector<std::string>{} : it->second;
}

void SetReadOnly(bool readOnly) { S().readOnly = readOnly; }
void SetDosVersion(uint16_t v) { S().dosVersion = v; }

void RunExitHooks() {
  auto hooks = S().exitHooks;
  S().exitHooks.clear();
  for (auto h : hooks) h();
}

}  // namespace vt

using vt::S;

// --- console -----------------------------------------------------------------------
bool KeyPressed() {
  vt::NoteIdle();
  vt::Present();
  return !S().keys.empty() && S().keys.front().atUs <= S().nowUs;
}

uint8_t ReadKey() {
  vt::Present();
  if (S().keys.empty()) {
    if (!S().feeder || !S().feeder() || S().keys.empty()) throw vt::ScriptEnd();
  }
  vt::KeyEvent k = S().keys.front();
  S().keys.pop_front();
  if (k.atUs > S().nowUs) {
    vt::Advance(k.atUs - S().nowUs);
    vt::Present();  // what a real key wait would have shown while it waited
  }
  S().idleCalls = 0;
  return k.byte;
}

void Delay(uint32_t ms) {
  vt::Present();
  ++S().sleepCalls;
  if (ms == 0) vt::NoteIdle();
  vt::Advance(static_cast<uint64_t>(ms) * 1000);
}

// Time moves in whole milliseconds from the start of the wait: the program
// sees a key or a byte at the same moment a loop of Delay(1) would have, so a
// loop that waits here instead takes the same steps at the same times.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line) {
  vt::Present();
  ++S().sleepCalls;
  vt::PortState* port = nullptr;
  if (line != kInvalidSerialHandle) {
    auto it = S().ports.find(static_cast<int>(line));
    if (it != S().ports.end() && it->second.open) {
      vt::ApplyScript(it->second, it->first);
      if (!it->second.lineDown) port = &it->second;
    }
  }
  auto keyBy = [](uint64_t t) { return !S().keys.empty() && S().keys.front().atUs <= t; };
  auto lineBy = [port](uint64_t t) {
    if (!port) return false;
    if (port->peer) {
      vt::PortSink sink(*port);
      port->peer->AdvanceTo(t, sink);
    }
    return !port->rx.empty() && port->rx.front().first <= t;
  };
  const uint64_t start = S().nowUs;
  if (keyBy(start)) return vt::NoteIdle(), WakeReason::kKey;
  if (lineBy(start)) return vt::NoteIdle(), WakeReason::kLine;
  if (maxMs == 0) return vt::NoteIdle(), WakeReason::kDeadline;
  for (uint32_t ms = 1; ms <= maxMs; ++ms) {
    // Without a peer that makes bytes as time passes, nothing can happen
    // before the next scripted key or byte: skip ahead to it.
    if (!(port && port->peer)) {
      uint64_t next = start + static_cast<uint64_t>(maxMs) * 1000;
      if (!S().keys.empty()) next = std::min(next, S().keys.front().atUs);
      if (port && !port->rx.empty()) next = std::min(next, port->rx.front().first);
      const uint64_t step = next > start ? (next - start + 999) / 1000 : 1;
      ms = static_cast<uint32_t>(std::clamp<uint64_t>(step, ms, maxMs));
    }
    const uint64_t at = start + static_cast<uint64_t>(ms) * 1000;
    const bool key = keyBy(at);
    const bool bytes = !key && lineBy(at);
    if (key || bytes || ms == maxMs) {
      vt::Advance(at - start);
      return key ? WakeReason::kKey : bytes ? WakeReason::kLine : WakeReason::kDeadline;
    }
  }
  return WakeReason::kDeadline;  // not reached: the last step returns
}

void FlushOutput() { vt::Present(); }

// --- clock and system ------------------------------------------------------------
void GetTime(uint16_t& hour, uint16_t& minute, uint16_t& second, uint16_t& hundredths) {
  vt::NoteIdle();
  int64_t h;
  long day;
  vt::Now(h, day);
  hour = static_cast<uint16_t>(h / 360000);
  minute = static_cast<uint16_t>((h / 6000) % 60);
  second = static_cast<uint16_t>((h % 6000) / 100);
  hundredths = static_cast<uint16_t>(h % 100);
}

void GetDate(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& dayOfWeek) {
  int64_t h;
  long days;
  vt::Now(h, days);
  int y, m, d;
  vt::CivilFromDays(days, y, m, d);
  year = static_cast<uint16_t>(y), month = static_cast<uint16_t>(m), day = static_cast<uint16_t>(d);
  dayOfWeek = static_cast<uint16_t>((days + 4) % 7);  // 1970-01-01 was a Thursday
}

std::string GetEnv(std::string_view name) {
  auto it = S().env.find(std::string(name));
  return it == S().env.end() ? std::string() : it->second;
}

std::string FSearch(std::string_view name, std::string_view dirList) {
  std::string n(name);
  if (vt::FileExists(n)) return n;
  size_t start = 0;
  while (start <= dirList.size()) {
    size_t end = dirList.find(':', start);
    if (end == std::string_view::npos) end = dirList.size();
    std::string dir(dirList.substr(start, end - start));
    if (!dir.empty()) {
      std::string p = dir + "/" + n;
      if (vt::FileExists(p)) return p;
    }
    start = end + 1;
  }
  return {};
}

uint16_t DosVersion() { return S().dosVersion; }

// --- serial ----------------------------------------------------------------------------
int SerialOpen(int port, SerialHandle& handle) {
  handle = kInvalidSerialHandle;
  auto it = S().ports.find(port);
  if (it == S().ports.end() || !it->second.exists || it->second.vanished) return S().lastError = ENOENT;
  if (it->second.open) return S().lastError = EBUSY;
  it->second.open = true;
  ++it->second.opens;
  handle = port;
  return 0;
}

bool SerialGetSettings(SerialHandle h, SerialSettings& s) {
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;  // ByHandle has said why
  if (p->failGetSettings) return S().lastError = EIO, false;
  s = p->settings;
  return true;
}

bool SerialSetSettings(SerialHandle h, const SerialSettings& s) {
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  if (p->failSetSettings) return S().lastError = EINVAL, false;
  p->settings = s;
  return true;
}

bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t) {
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  if (p->failTimeouts) return S().lastError = EIO, false;
  t = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t) {
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  if (p->failTimeouts) return S().lastError = EIO, false;
  p->timeouts = t;
  return true;
}

bool SerialPurge(SerialHandle h) {
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  if (TraceRecording()) TraceEvent(trace::Word::kPurge, {});
  vt::PeerCatchUp(*p);
  size_t n = vt::ArrivedCount(*p);
  p->rx.erase(p->rx.begin(), p->rx.begin() + static_cast<long>(n));
  ++p->purges;
  return true;
}

bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting) {
  vt::NoteIdle();
  bytesWaiting = 0;
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  vt::PeerCatchUp(*p);
  bytesWaiting = static_cast<uint32_t>(vt::ArrivedCount(*p));
  if (bytesWaiting == 0) TraceQuiet();
  return true;
}

bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  vt::PortState* p = vt::ByHandle(h);
  if (!p) {
    vt::NoteIdle();
    return false;
  }
  vt::PeerCatchUp(*p);
  const uint64_t start = S().nowUs;
  const uint64_t deadline = start + static_cast<uint64_t>(p->timeouts.readTotalConstant) * 1000;
  uint64_t lastAt = start;
  // The pieces as they arrived, for the trace: bytes sent at one time.
  uint32_t pieceStart = 0;
  uint64_t pieceAt = 0;
  while (got < count && !p->rx.empty() && p->rx.front().first <= deadline) {
    if (got > pieceStart && p->rx.front().first != pieceAt) {
      TraceRead(buffer + pieceStart, got - pieceStart);
      TraceQuiet();
      pieceStart = got;
    }
    pieceAt = p->rx.front().first;
    // The clock stands at each piece's arrival while it is recorded, as a
    // real line's read sees it come; the read's end is the same.
    if (got == pieceStart && pieceAt > S().nowUs) vt::Advance(pieceAt - S().nowUs);
    lastAt = std::max(lastAt, p->rx.front().first);
    buffer[got++] = p->rx.front().second;
    p->rx.pop_front();
  }
  TraceRead(buffer + pieceStart, got - pieceStart);
  // A read waits for all it asked for, or for the whole time-out.
  const uint64_t end = got == count ? lastAt : deadline;
  if (end > S().nowUs) vt::Advance(end - S().nowUs);
  if (deadline == start) vt::NoteIdle();
  if (got < count) TraceQuiet();
  return true;
}

bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  vt::PortState* p = vt::ByHandle(h);
  if (!p) return false;
  vt::PortSink sink(*p);
  for (uint32_t i = 0; i < count; ++i) {
    if (p->vanishAfterBytes != 0 && p->written.size() >= p->vanishAfterBytes) {
      // The line goes in the middle of the write: what went, went.
      p->vanishAfterBytes = 0;
      p->vanished = true;
      TraceWrote(data, written);
      vt::LineGoes(*p, static_cast<int>(h));
      S().lastError = kSerialErrLineLost;
      return false;
    }
    p->written.push_back({S().nowUs, data[i]});
    ++written;
    if (p->peer) p->peer->OnByte(data[i], S().nowUs, sink);
  }
  TraceWrote(data, written);
  return true;
}

void SerialClose(SerialHandle h) {
  auto it = S().ports.find(static_cast<int>(h));
  if (it == S().ports.end()) return;
  if (it->second.open && TraceRecording()) TraceEvent(trace::Word::kClose, "COM" + std::to_string(it->first));
  it->second.open = false;
  it->second.lineDown = false;
  it->second.reopen = {};
}

bool SerialLineUp(SerialHandle h) {
  vt::NoteIdle();
  auto it = S().ports.find(static_cast<int>(h));
  if (it == S().ports.end() || !it->second.open) return false;
  vt::PortState& p = it->second;
  vt::ApplyScript(p, it->first);
  if (!p.lineDown) return true;
  if (!p.reopen.Due(S().nowUs)) return false;
  if (p.vanished || !p.exists) return false;
  // A fresh line: nothing of the old one arrives on it.
  p.lineDown = false;
  p.reopen = {};
  p.rx.clear();
  if (p.peer) p.peer->OnLineBack();
  ++p.reopens;
  ++p.opens;
  if (TraceRecording()) TraceEvent(trace::Word::kBack, "COM" + std::to_string(it->first));
  return true;
}

std::string SerialPortLine(int port) { return "virtual COM" + std::to_string(port); }

// --- the line's trace: real files, on the virtual clock ----------------------------
TraceClock TraceClockNow() {
  const auto& s = S();
  TraceClock c;
  c.monoUs = s.nowUs;
  c.wallUs = (static_cast<int64_t>(vt::DaysFromCivil(s.baseYear, s.baseMonth, s.baseDay)) * 86400 * 100 +
              s.baseHundredths) * 10000 + static_cast<int64_t>(s.nowUs);
  c.offsetMinutes = 0;
  return c;
}

std::string TraceHostName() { return "virtual"; }
long TraceProcessId() { return 4711; }

int TraceFileCreate(const std::string& path, intptr_t& handle) {
  handle = -1;
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return EEXIST;
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return errno != 0 ? errno : EIO;
  std::setvbuf(f, nullptr, _IONBF, 0);  // each record goes to the system as it is written
  handle = reinterpret_cast<intptr_t>(f);
  return 0;
}

int TraceFileWrite(intptr_t handle, const char* data, size_t n) {
  auto& s = S();
  size_t take = n;
  if (s.traceFailCode != 0) take = s.traceBudget < n ? static_cast<size_t>(s.traceBudget) : n;
  auto* f = reinterpret_cast<std::FILE*>(handle);
  if (take > 0 && std::fwrite(data, 1, take, f) != take) return errno != 0 ? errno : EIO;
  if (s.traceFailCode != 0) {
    s.traceBudget -= take;
    if (take < n) return s.traceFailCode;
  }
  return 0;
}

void TraceFileClose(intptr_t handle) {
  if (handle != -1) std::fclose(reinterpret_cast<std::FILE*>(handle));
}

int SerialLastError() { return S().lastError; }
int SerialNoDeviceError() { return ENOENT; }

// --- result files ------------------------------------------------------------------
int TextFileCreateNew(TextFile& f, std::string_view path) {
  f.handle = -1;
  std::string p(path);
  if (S().readOnly) return EACCES;
  if (vt::FileExists(p)) return EEXIST;
  S().files[p] = {};
  S().openFiles.push_back(p);
  f.handle = static_cast<long long>(S().openFiles.size() - 1);
  return 0;
}

int TextFileWriteLine(TextFile& f, std::string_view text) {
  if (!f.IsOpen() || f.handle >= static_cast<long long>(S().openFiles.size())) return EBADF;
  if (S().readOnly) return ENOSPC;
  S().files[S().openFiles[static_cast<size_t>(f.handle)]].emplace_back(text);
  return 0;
}

void TextFileClose(TextFile& f) { f.handle = -1; }

int FileReadAll(std::string_view path, std::string& bytes, size_t maxBytes) {
  bytes.clear();
  const std::string p(path);
  auto it = S().files.find(p);
  if (it == S().files.end()) return ENOENT;
  for (const std::string& line : it->second) bytes += line + "\n";
  if (S().unterminated.count(p) && !bytes.empty()) bytes.pop_back();
  if (bytes.size() > maxBytes) {
    bytes.clear();
    return kFileTooLarge;
  }
  return 0;
}

int FileWriteWhole(std::string_view path, std::string_view bytes, bool replace) {
  if (S().readOnly) return EACCES;
  if (!replace && vt::FileExists(path)) return EEXIST;
  vt::PutFile(path, bytes);
  return 0;
}

int FileExistsError() { return EEXIST; }

std::string FileErrorText(int error) {
  if (error == kFileTooLarge) return "file too large";
  return std::strerror(error);
}

// --- programs ---------------------------------------------------------------------------
namespace vt {
void SetProgramRunner(ProgramRunner runner) { S().runner = std::move(runner); }
}  // namespace vt

std::string ProcessEnv(std::string_view name) { return GetEnv(name); }

bool ProgramExists(std::string_view path) { return !path.empty() && vt::FileExists(path); }

std::string ProgramInPath(std::string_view name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string_view::npos) return ProgramExists(name) ? std::string(name) : std::string();
  const std::string list = GetEnv("PATH");
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string path = list.substr(start, end - start) + "/" + std::string(name);
    if (end > start && ProgramExists(path)) return path;
    start = end + 1;
  }
  return {};
}

std::string AbsoluteUtf8Path(std::string_view path) {
  if (!path.empty() && path.front() == '/') return std::string(path);
  return "/work/" + std::string(path);
}

int TempFolderCreate(std::string& path) {
  if (S().readOnly) return EACCES;
  std::string base = GetEnv("TMPDIR");
  if (base.empty()) base = "/tmp";
  path = base + "/vekton-report." + std::to_string(++S().tempFolders);
  return 0;
}

void TempFolderRemove(std::string_view path) {
  const std::string prefix = std::string(path) + "/";
  auto& files = S().files;
  for (auto it = files.lower_bound(prefix); it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
    it = files.erase(it);
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath, int timeoutMs) {
  if (!S().runner) return ProgramOutcome{ENOENT, false, -1};
  vt::PutFile(outputPath, "");
  return S().runner(program, args, outputPath, timeoutMs);
}

// --- lifecycle -------------------------------------------------------------------------
void PlatformInit() {}
void PlatformShutdown() { vt::RunExitHooks(); }
void PlatformAddExitHook(PlatformExitHook hook) { S().exitHooks.push_back(hook); }
