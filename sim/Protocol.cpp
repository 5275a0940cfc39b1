// The controller's side of the host link: command lines in, answers out,
// and the line faults that can spoil them.
//
// A command line ends in CR; the answer ends in CR LF. The controller knows
// CR, CQ, RD, WR, ST and RS. "E0" answers a device number that does not
// exist, "E1" anything it cannot make sense of: unknown commands, bad syntax,
// binary bytes, lines longer than its buffer, values beyond 16 bits.
#include <cstdio>

#include "sim/Store.h"

namespace sim {
namespace {

// Keep this much of a line for the trace, however long the line.
constexpr size_t kKeepRaw = 4096;
constexpr uint32_t kSlowDefaultMs = 80;   // past one 52 ms read, inside two
constexpr uint32_t kSplitDefaultMs = 60;  // more than one read time-out apart

struct Words {
  std::string_view w[4];
  int n = 0;
  bool tooMany = false;
};

Words SplitWords(std::string_view line) {
  Words words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (words.n == 4) {
      words.tooMany = true;
      break;
    }
    words.w[words.n++] = line.substr(i, j - i);
    i = j;
  }
  return words;
}

enum class Num { Ok, Bad, Big };

// Plain decimal digits only. Anything past nine digits is too big for every
// device range and value, so it is not converted further.
Num ParseNumber(std::string_view s, uint32_t& value) {
  value = 0;
  if (s.empty()) return Num::Bad;
  size_t significant = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return Num::Bad;
    if (significant > 0 || c != '0') ++significant;
    if (significant <= 9) value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return significant > 9 ? Num::Big : Num::Ok;
}

bool RelayExists(uint32_t n) { return n / 100 < static_cast<uint32_t>(kRelayChannels) && n % 100 <= 15; }

}  // namespace

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::None: return "none";
    case Fault::Silent: return "silent";
    case Fault::Slow: return "slow";
    case Fault::Split: return "split";
    case Fault::Garbage: return "garbage";
    case Fault::Error: return "error";
    case Fault::NeverReady: return "notready";
    case Fault::Vanish: return "vanish";
  }
  return "?";
}

bool ParseFault(std::string_view name, Fault& f) {
  for (Fault x : {Fault::None, Fault::Silent, Fault::Slow, Fault::Split, Fault::Garbage, Fault::Error,
                  Fault::NeverReady, Fault::Vanish}) {
    if (name == FaultName(x)) {
      f = x;
      return true;
    }
  }
  return false;
}

void Store::SetFault(Fault f, uint32_t ms) {
  fault_ = f;
  if (ms == 0) ms = f == Fault::Slow ? kSlowDefaultMs : f == Fault::Split ? kSplitDefaultMs : 0;
  faultMs_ = ms;
  Dispatch();  // a store that hung goes on with what was waiting
}

bool Store::Receive(uint8_t byte, uint64_t tUs, std::vector<Piece>& out) {
  AdvanceTo(tUs);
  if (byte != '\r') {
    // A terminal program may end its lines with CR LF: a LF at the start of
    // a line is the tail of the last one, not part of this one.
    if (byte == '\n' && raw_.empty()) return false;
    if (raw_.size() < kKeepRaw) raw_.push_back(static_cast<char>(byte));
    if (byte < 0x20 || byte > 0x7E) lineBad_ = true;
    if (raw_.size() > kMaxLine) lineBad_ = true;
    return false;
  }
  lastLine_ = raw_;
  const bool bad = lineBad_;
  raw_.clear();
  lineBad_ = false;

  if (fault_ == Fault::Silent || fault_ == Fault::Vanish) return true;  // nobody hears it
  if (lastLine_.empty()) return true;                                    // an empty line gets no answer
  std::string answer;
  if (bad) {
    answer = "E1";
  } else if (fault_ == Fault::Error && lastLine_ != "CR" && lastLine_ != "CQ") {
    answer = "E1";
  } else {
    answer = Execute(lastLine_, tUs);
  }
  ++counts_.commands;
  Shape(answer, tUs, out);
  return true;
}

// Puts the answer on the line: after the controller's scan, one byte at a
// time at the line's rate, unless a fault spoils it.
void Store::Shape(const std::string& answer, uint64_t tUs, std::vector<Piece>& out) {
  std::string bytes = answer + "\r\n";
  if (fault_ == Fault::Garbage) {
    std::string noise;
    for (int i = 0; i < 3; ++i) {
      uint8_t b = static_cast<uint8_t>(Random());
      if (b == '\r' || b == '\n') b = 0x7F;
      if (b >= 0x20 && b < 0x7F) b = static_cast<uint8_t>(b | 0x80);  // never a printable byte
      noise.push_back(static_cast<char>(b));
    }
    bytes = noise + bytes;
  }
  uint64_t first = tUs + options_.latencyUs;
  if (fault_ == Fault::Slow) first += static_cast<uint64_t>(faultMs_) * 1000;
  // A line never reorders bytes: nothing may overtake what was sent before.
  auto place = [&](uint64_t at, std::string piece) {
    if (at < lastPieceUs_) at = lastPieceUs_;
    lastPieceUs_ = at;
    out.push_back({at, std::move(piece)});
  };
  if (fault_ == Fault::Split && bytes.size() >= 2) {
    const size_t half = bytes.size() / 2;
    const uint64_t firstDone = first + half * options_.byteUs;
    place(firstDone, bytes.substr(0, half));
    place(firstDone + static_cast<uint64_t>(faultMs_) * 1000 + (bytes.size() - half) * options_.byteUs,
          bytes.substr(half));
    return;
  }
  const uint64_t last = first + bytes.size() * options_.byteUs;
  place(last, std::move(bytes));
}

std::string Store::Execute(std::string_view line, uint64_t tUs) {
  AdvanceTo(tUs);
  if (line.empty()) return "";
  std::string answer = Command(line);
  Dispatch();
  return answer;
}

std::string Store::Command(std::string_view line) {
  if (line.size() > kMaxLine) return "E1";
  const Words words = SplitWords(line);
  if (words.tooMany || words.n == 0) return "E1";
  const std::string_view cmd = words.w[0];
  if (words.n == 1 && cmd == "CR") return "CC";
  if (words.n == 1 && cmd == "CQ") return "CF";
  if (words.n == 2 && cmd == "RD") return ReadDevice(words.w[1]);
  if (words.n == 3 && cmd == "WR") return WriteDevice(words.w[1], words.w[2]);
  if (words.n == 2 && (cmd == "ST" || cmd == "RS")) return ForceRelay(words.w[1], cmd == "ST");
  return "E1";
}

std::string Store::ReadDevice(std::string_view device) {
  uint32_t n = 0;
  char text[16];
  if (device.substr(0, 2) == "DM") {
    const Num r = ParseNumber(device.substr(2), n);
    if (r == Num::Bad) return "E1";
    if (r == Num::Big || n >= static_cast<uint32_t>(kDmWords)) return "E0";
    Scan();
    std::snprintf(text, sizeof text, "%05u", static_cast<unsigned>(dm_[n]));
    return text;
  }
  if (device.substr(0, 1) == "T") {
    const Num r = ParseNumber(device.substr(1), n);
    if (r == Num::Bad) return "E1";
    if (r == Num::Big || n >= static_cast<uint32_t>(kTimers)) return "E0";
    // The timers the store's program runs; every other one stands at zero.
    uint64_t since = 0;
    uint32_t preset = 0;
    bool running = false;
    if (n == 20) {
      preset = 10;
      running = !car_.moving;
      since = car_.settledFrom;
    } else if (n == 12 || n == 13) {
      preset = 30;
      running = !shovelTest_.moving && shovelTest_.out == (n == 12);
      since = shovelTest_.since;
    }
    uint32_t current = 0;
    if (running && now_ >= since) {
      const uint64_t units = (now_ - since) / 10000;  // 10 ms timer units
      current = units >= preset ? preset : static_cast<uint32_t>(units);
    }
    const bool contact = preset > 0 && current >= preset;
    std::snprintf(text, sizeof text, "%c,%05u,%05u", contact ? '1' : '0', static_cast<unsigned>(current),
                  static_cast<unsigned>(preset));
    return text;
  }
  const Num r = ParseNumber(device, n);
  if (r == Num::Bad) return "E1";
  if (r == Num::Big || !RelayExists(n)) return "E0";
  Scan();
  return Bit(static_cast<int>(n)) ? "1" : "0";
}

std::string Store::WriteDevice(std::string_view device, std::string_view value) {
  if (device.substr(0, 2) != "DM") return "E1";
  uint32_t n = 0, v = 0;
  const Num r = ParseNumber(device.substr(2), n);
  if (r == Num::Bad) return "E1";
  const Num rv = ParseNumber(value, v);
  if (rv != Num::Ok || v > 65535) return "E1";
  if (r == Num::Big || n >= static_cast<uint32_t>(kDmWords)) return "E0";
  WriteDm(static_cast<int>(n), static_cast<uint16_t>(v));
  return "OK";
}

std::string Store::ForceRelay(std::string_view device, bool on) {
  uint32_t n = 0;
  const Num r = ParseNumber(device, n);
  if (r == Num::Bad) return "E1";
  if (r == Num::Big || !RelayExists(n)) return "E0";
  SetRelay(static_cast<int>(n), on);
  return "OK";
}

}  // namespace sim
