// Numbers read from the controller's answers: the plain decimal conversion,
// the DM word held in 0..65535, the status word and Ready flag of the status
// line, and the climate line it writes into the result file. Whatever the
// answer holds, the values follow the stated rules and nothing but digits,
// signs, points and blanks reaches the screen or the file.
#include <cstdio>
#include <string>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/TextFile.h"
#include "platform/virtual/Virtual.h"

namespace {

constexpr int kPort = 1;

std::string Field(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%5.1f", v);
  return buf;
}

// Every byte that is not a digit counts as the digit 0.
std::string DigitsOnly(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (c < '0' || c > '9') c = '0';
  return s;
}

}  // namespace

void CheckConversions(const uint8_t* data, size_t size) {
  vt::Reset();
  InitAllUnits();
  GetScreenSize();
  fuzz::Input in(data, size);

  // Six answers, each short enough to come in one read with its CR LF.
  std::string text[6];
  for (std::string& t : text) t = in.Bytes(in.Byte() % 49);

  for (const std::string& t : text) {
    const int64_t ref = fuzz::ReferenceValue(t);
    FUZZ_CHECK(KvValue(t) == ref, "KvValue differs from the plain decimal conversion");
    FUZZ_CHECK(AnswerWord(ShortStr(t)) == (ref > 0xFFFF ? 0xFFFF : ref), "AnswerWord is not the word held in range");
  }

  vt::ScriptedPeer peer;
  peer.On("RD DM200", text[0]);
  peer.On("RD 1915", text[1]);
  for (int i = 0; i < 4; ++i) peer.On("RD DM" + std::to_string(982 + i), text[2 + i]);
  vt::AttachPort(kPort, &peer);
  ComPort = kPort;
  if (KvOpenPort(kPort) != 0) {
    FUZZ_CHECK(false, "the virtual port did not open");
    return;
  }
  if (TextFileCreateNew(ResultFile, "1234_00.spf") != 0) {
    FUZZ_CHECK(false, "the virtual result file did not open");
    return;
  }
  LogToFile = true;

  try {
    // Four refreshes, each one climate tick apart: DM200, relay 1915, DM200,
    // relay 1915, with the four climate words read one per tick.
    for (int tick = 0; tick < 4; ++tick) {
      vt::AdvanceUs(15'100'000);
      UpdateStatusLine();
      if (tick == 0) {
        FUZZ_CHECK(SysStat == static_cast<uint16_t>(fuzz::ReferenceValue(DigitsOnly(text[0]))),
                   "SysStat is not the answer with its non-digits as 0");
      } else if (tick == 1) {
        FUZZ_CHECK(ReadyFlag == (text[1] == "1"), "Ready is on for an answer other than exactly 1");
      }
    }
  } catch (const vt::Spin&) {
    FUZZ_CHECK(false, "the status line spins without letting time pass");
    return;
  } catch (const vt::ScriptEnd&) {
    FUZZ_CHECK(false, "the status line blocked on a key");
    return;
  }
  FUZZ_CHECK(fuzz::ScreenPrintable(), "a control byte reached the screen");

  const std::vector<std::string> lines = vt::FileLines("1234_00.spf");
  FUZZ_CHECK(lines.size() == 1, "not one climate line after four ticks");
  if (lines.size() != 1) return;
  double temp = static_cast<double>(fuzz::ReferenceValue(text[2]));
  if (temp > 32768.0) temp = 32768.0 - temp;  // bit 15 is the sign
  const std::string expect = Field(temp / 10) + Field(fuzz::ReferenceValue(text[3]) / 10.0) +
                             Field(fuzz::ReferenceValue(text[4]) / 100.0) +
                             Field(static_cast<double>(fuzz::ReferenceValue(text[5])));
  FUZZ_CHECK(lines[0] == expect, "the climate line differs from its answers");
  FUZZ_CHECK(lines[0].size() <= ShortStr::kMax, "climate line longer than a text");
  FUZZ_CHECK(lines[0].find_first_not_of("0123456789.- ") == std::string::npos, "climate line holds other bytes");
}
