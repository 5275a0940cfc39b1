// The simulator's command parser, fed byte by byte as the in-process harness
// feeds it, with the clock moved on between lines so the mechanics run too.
// Whatever the line, the store answers like a KV-PLC: one well-formed answer
// line (or nothing, on a dead line or an empty command), never before the
// line ended, never out of order.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"
#include "sim/Store.h"

namespace {

struct Collect : vt::Sink {
  std::vector<sim::Piece> pieces;
  void Send(uint64_t atUs, std::string_view bytes) override { pieces.push_back({atUs, std::string(bytes)}); }
};

bool AllDigits(std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos; }

// The answers a KV-PLC gives: CC, CF, OK, E0, E1, a DM word in five digits,
// a relay state, or a timer's contact, current and preset values.
bool WellFormed(std::string_view a) {
  if (a == "CC" || a == "CF" || a == "OK" || a == "E0" || a == "E1" || a == "0" || a == "1") return true;
  if (a.size() == 5 && AllDigits(a)) return true;
  return a.size() == 13 && (a[0] == '0' || a[0] == '1') && a[1] == ',' && AllDigits(a.substr(2, 5)) &&
         a[7] == ',' && AllDigits(a.substr(8, 5));
}

// A command line from words the controller knows, so that the input reaches
// the devices and the mechanics and not only the syntax errors.
std::string BuiltLine(fuzz::Input& in) {
  static const char* const kVerbs[] = {"RD ", "WR ", "ST ", "RS ", "CR", "CQ", "RD DM", "WR DM", "RD T"};
  static const uint16_t kDevices[] = {0, 1, 5, 6, 20, 25, 29, 50, 51, 108, 109, 123, 200, 300, 301,
                                      982, 1801, 1815, 1901, 1902, 1903, 1904, 1905, 1908, 1909, 1915, 12, 13, 20};
  const uint8_t v = in.Byte();
  std::string line = kVerbs[v % 9];
  if (v % 9 == 4 || v % 9 == 5) return line;
  const uint8_t d = in.Byte();
  line += std::to_string(d < 232 ? kDevices[d % 29] : in.Word());
  if (v % 9 == 1 || v % 9 == 7) {
    line += ' ';
    const uint8_t w = in.Byte();
    line += std::to_string(w < 128 ? w % 45 : w < 250 ? in.Word() : 51873);
  }
  return line;
}

}  // namespace

void CheckSimProtocol(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const sim::Profile& profile = sim::ProfileAt(in.Byte() % sim::ProfileCount());
  sim::Options options;
  const uint8_t o = in.Byte();
  options.speed = (o & 3) == 0 ? 1.0 : (o & 3) == 1 ? 10.0 : (o & 3) == 2 ? 100.0 : 0.5;
  options.plates = static_cast<sim::PlateLayout>((o >> 2) & 3);
  options.seed = in.Byte();
  sim::StorePeer peer(profile, options);
  sim::Store& store = peer.store();
  const uint8_t f = in.Byte();
  if (f >= 0xF0) store.SetFault(static_cast<sim::Fault>(f & 7));

  Collect sink;
  uint64_t now = 0;
  uint64_t lastPieceUs = 0;
  for (int step = 0; step < 200 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    if (op >= 0xE0) {  // time passes: up to 3.1 s, or up to 5 minutes
      now += static_cast<uint64_t>(in.Byte()) * (op & 1 ? 1'200'000 : 12'000);
      peer.AdvanceTo(now, sink);
      continue;
    }
    std::string line = op & 1 ? BuiltLine(in) : in.Bytes(in.Byte());
    line += '\r';
    const sim::Fault fault = store.fault();
    uint32_t before = store.counts().commands;
    for (size_t i = 0; i < line.size(); ++i) {
      now += 1146;  // one byte at 9600 baud
      const size_t had = sink.pieces.size();
      peer.OnByte(static_cast<uint8_t>(line[i]), now, sink);
      const bool lineEnd = line[i] == '\r';
      FUZZ_CHECK(lineEnd || sink.pieces.size() == had, "an answer before the line ended");
      if (!lineEnd) continue;

      // The answer to the line that ended here.
      std::string bytes;
      for (size_t p = had; p < sink.pieces.size(); ++p) {
        FUZZ_CHECK(sink.pieces[p].atUs >= now, "an answer sent before its command");
        FUZZ_CHECK(sink.pieces[p].atUs >= lastPieceUs, "answers overtook each other");
        lastPieceUs = sink.pieces[p].atUs;
        bytes += sink.pieces[p].bytes;
      }
      const std::string heard = store.LastLine();
      if (fault == sim::Fault::Silent || fault == sim::Fault::Vanish || heard.empty()) {
        FUZZ_CHECK(bytes.empty(), "a dead line or an empty command was answered");
        continue;
      }
      FUZZ_CHECK(store.counts().commands > before, "an answered command was not counted");
      before = store.counts().commands;
      if (fault == sim::Fault::Garbage) {
        FUZZ_CHECK(bytes.size() >= 3, "line noise missing");
        for (size_t n = 0; n < 3 && n < bytes.size(); ++n) {
          const uint8_t b = static_cast<uint8_t>(bytes[n]);
          FUZZ_CHECK((b < 0x20 || b > 0x7E) && b != '\r' && b != '\n', "line noise that looks like text or a line end");
        }
        bytes.erase(0, 3);
      }
      FUZZ_CHECK(bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0, "answer without CR LF");
      if (bytes.size() < 2) continue;
      const std::string answer = bytes.substr(0, bytes.size() - 2);
      FUZZ_CHECK(WellFormed(answer), "an answer no KV-PLC gives");
      bool binary = heard.size() > sim::kMaxLine;
      for (char c : heard) binary = binary || static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) > 0x7E;
      if (binary) FUZZ_CHECK(answer == "E1", "a binary or overlong line was not refused");
    }
  }
}
