// The direct command console against a controller that answers anything:
// every byte shown must have gone through the conversion (no control byte
// reaches the screen), the wire carries exactly the lines the operator
// finished and the status polls, and Esc ends the console at once.
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

namespace {

constexpr int kPort = 1;

bool IsPoll(const std::string& line) { return line == "RD DM200" || line == "RD 1915" || line.empty(); }

// The keys the operator may type here: printable ASCII, Enter, Backspace.
uint8_t Key(uint8_t b) {
  const uint8_t k = b % 97;
  return k == 95 ? 13 : k == 96 ? 8 : static_cast<uint8_t>(32 + k);
}

}  // namespace

void CheckDirectCommands(const uint8_t* data, size_t size) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  fuzz::Input in(data, size);
  fuzz::Peer peer(in);
  vt::AttachPort(kPort, &peer);
  ComPort = kPort;
  SerialNumber = 1234;
  if (KvOpenPort(kPort) != 0) {
    FUZZ_CHECK(false, "the virtual port did not open");
    return;
  }
  TextBackground(7);
  TextColor(1);
  Window(10, 1, 70, 25);

  // The operator's keys at the input's times, then Esc. The lines the
  // console must send follow from the keys alone.
  const uint64_t t0 = vt::NowUs();
  uint64_t at = t0;
  std::vector<std::string> expected;
  ShortStr line;
  // Up to 32 keys 0 to 315 ms apart: every virtual millisecond is a pass of
  // the console's loop, and the fuzzer should spend its time on the bytes.
  const size_t keys = in.Byte() % 33;
  for (size_t i = 0; i < keys; ++i) {
    at += static_cast<uint64_t>(in.Byte() % 64) * 5'000;
    const uint8_t k = Key(in.Byte());
    vt::PushKeysAt(at, std::string(1, static_cast<char>(k)));
    if (k == 13) {
      if (line.size() > 1 && !IsPoll(line.str())) expected.push_back(line.str());
      line.Clear();
    } else if (k == 8) {
      line.PopBack();
    } else {
      line += static_cast<char>(k);
    }
  }
  const uint64_t escAt = at + static_cast<uint64_t>(in.Byte()) * 2'000;
  vt::PushKeysAt(escAt, "\x1b");

  try {
    DirectCommands();
  } catch (const vt::Spin&) {
    FUZZ_CHECK(false, "the direct command console spins without letting time pass");
    return;
  } catch (const vt::ScriptEnd&) {
    FUZZ_CHECK(false, "the direct command console blocked on a key");
    return;
  }

  FUZZ_CHECK(EscAbort, "the console ended without Esc");
  // Keys are taken in the order typed: the status exchange on entry (107 ms
  // against a silent line) and a millisecond per key typed ahead of the Esc
  // may come before it is seen.
  FUZZ_CHECK(vt::NowUs() <= escAt + 250'000 + keys * 3'000, "the console went on long after Esc");
  FUZZ_CHECK(fuzz::ScreenPrintable(), "a byte the conversion should have replaced reached the screen");
  FUZZ_CHECK(CommAnswer.size() <= ShortStr::kMax, "answer longer than a text");
  for (size_t i = 0; i < CommAnswer.size(); ++i) {
    const uint8_t c = CommAnswer.Byte(i);
    FUZZ_CHECK(c >= 32 && c <= 126, "the converted answer holds a control byte");
  }

  // An Esc read between two bytes of the status line's own exchange cuts
  // its line short; nothing is written after that Esc, so such a piece can
  // only stand at the very end, and only as the start of a status poll.
  std::string wire = vt::WrittenText(kPort);
  const size_t lastCr = wire.rfind('\r');
  const std::string cut = wire.substr(lastCr == std::string::npos ? 0 : lastCr + 1);
  FUZZ_CHECK(std::string("RD DM200").compare(0, cut.size(), cut) == 0 ||
                 std::string("RD 1915").compare(0, cut.size(), cut) == 0,
             "a line without its CR that is no cut status poll");
  wire.resize(wire.size() - cut.size());
  std::vector<std::string> sent;
  size_t start = 0;
  for (size_t cr; (cr = wire.find('\r', start)) != std::string::npos; start = cr + 1) {
    const std::string l = wire.substr(start, cr - start);
    if (!IsPoll(l)) sent.push_back(l);
  }
  // Esc stops the console at its next pass: lines finished just before it
  // may still sit in the type-ahead and are dropped with it, never sent.
  bool prefix = sent.size() <= expected.size();
  for (size_t i = 0; prefix && i < sent.size(); ++i) prefix = sent[i] == expected[i];
  FUZZ_CHECK(prefix, "the wire carries a line the operator did not finish");
}
