// The host-link exchange against a controller that answers anything, in
// pieces, at any time. Whatever comes back, the program must send exactly
// the line it meant (or a prefix of it when Esc cut it), keep the answer
// within one read, and every wait must end soon after Esc.
#include <string>

#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/virtual/Virtual.h"

namespace {

constexpr int kPort = 1;
constexpr uint64_t kReadUs = 52'000;  // one read time-out at 9600 baud
// An Esc typed during any operation ends it within this much virtual time:
// the longest step between two looks at the keyboard is a 200 ms pause of
// the relay wait plus one exchange that finds EscAbort already set.
constexpr uint64_t kEscBoundUs = 500'000;

// The line the command must go out as: the first negative number rewritten
// as its 16-bit two's complement, anything after that number dropped, and CR.
std::string ExpectedLine(const std::string& command) {
  const size_t minus = command.find('-');
  if (minus == std::string::npos) return command + '\r';
  unsigned long long v = 0;
  for (size_t i = minus + 1; i < command.size() && command[i] >= '0' && command[i] <= '9'; ++i)
    v = (v * 10 + static_cast<unsigned>(command[i] - '0')) % 65536;
  return command.substr(0, minus) + std::to_string((65536 - v) % 65536) + '\r';
}

std::string WrittenSince(size_t from) {
  const std::string all = vt::WrittenText(kPort);
  return from < all.size() ? all.substr(from) : std::string();
}

bool IsPrefix(const std::string& prefix, const std::string& whole) {
  return prefix.size() <= whole.size() && whole.compare(0, prefix.size(), prefix) == 0;
}

// Every line written by a polling wait is its poll command (given with CR).
bool AllLinesAre(const std::string& written, const std::string& lineWithCr) {
  const std::string line = lineWithCr.substr(0, lineWithCr.size() - 1);
  size_t pos = 0;
  while (pos < written.size()) {
    const size_t cr = written.find('\r', pos);
    if (cr == std::string::npos) return IsPrefix(written.substr(pos), line);
    if (written.compare(pos, cr - pos, line) != 0) return false;
    pos = cr + 1;
  }
  return true;
}

struct Run {
  fuzz::Input& in;
  fuzz::Peer& peer;
  uint64_t escAtUs = UINT64_MAX;  // when the Esc of this operation is typed
  size_t keysAhead = 0;           // type-ahead queued before that Esc

  // Types Esc at a time the input chooses (in 1 ms or 20 ms steps) or not at all.
  void MaybeScheduleEsc(uint8_t how, bool longWait) {
    escAtUs = UINT64_MAX;
    if (!longWait && !(how & 0x80)) return;
    keysAhead = vt::PendingKeys();
    escAtUs = vt::NowUs() + static_cast<uint64_t>(in.Byte()) * (longWait ? 20'000 : 1'000);
    vt::PushKeysAt(escAtUs, "\x1b");
  }

  // After an operation: it ended in time if Esc was typed for it, and the
  // Esc left no trace for the next operation but EscAbort.
  void CheckEnded(uint64_t startUs) {
    if (escAtUs != UINT64_MAX) {
      const uint64_t from = escAtUs > startUs ? escAtUs : startUs;
      // Keys are read in the order typed, one per look at the keyboard, and
      // every poll cycle looks several times: type-ahead delays the Esc
      // behind it by less than 100 ms a key.
      FUZZ_CHECK(vt::NowUs() <= from + kEscBoundUs + keysAhead * 100'000, "an operation ran on long after Esc");
    }
  }

  // One exchange-based command whose exact line is known.
  void Command(const std::string& command, void (*op)(const std::string&, ShortStr&), uint8_t how) {
    MaybeScheduleEsc(how, false);
    const bool escBefore = EscAbort;
    const size_t before = vt::WrittenText(kPort).size();
    const size_t sentBefore = peer.sent.size();
    const size_t queued = vt::Port(kPort).rx.size();  // earlier answers still on their way
    const uint64_t start = vt::NowUs();
    ShortStr answer("sentinel");
    op(command, answer);
    const std::string written = WrittenSince(before);
    const std::string expected = ExpectedLine(command);

    FUZZ_CHECK(answer.size() <= ShortStr::kMax, "answer longer than a text");
    if (escBefore) {
      FUZZ_CHECK(written.empty(), "something was sent while EscAbort was set");
      FUZZ_CHECK(answer.empty(), "an exchange under EscAbort did not answer empty");
    } else if (EscAbort) {
      FUZZ_CHECK(IsPrefix(written, expected), "a line cut by Esc is not a prefix of the command");
      FUZZ_CHECK(answer == "sentinel", "an exchange ended by Esc changed the caller's answer");
    } else {
      FUZZ_CHECK(written == expected, "the line sent is not the command");
      // One read of at most 50 bytes, less the CR LF (a single byte is kept).
      FUZZ_CHECK(answer.size() <= 48, "answer longer than one read");
      FUZZ_CHECK(answer.empty() || peer.sent.find(answer.view()) != std::string::npos,
                 "answer holds bytes the controller never sent");
      // Each read takes at most one time-out and brings at least one byte
      // or counts as one of the two empty reads.
      const uint64_t reads = 2 + queued + (peer.sent.size() - sentBefore);
      FUZZ_CHECK(vt::NowUs() - start <= 1000 + reads * (kReadUs + 1000), "an exchange took too long");
    }
    CheckEnded(start);
  }
};

void Exchange(const std::string& c, ShortStr& a) { KvExchange(kPort, ShortStr(c), a); }

}  // namespace

void CheckExchange(const uint8_t* data, size_t size) {
  vt::Reset();
  ComLib3Init();
  fuzz::Input in(data, size);
  fuzz::Peer peer(in);
  vt::AttachPort(kPort, &peer);
  if (KvOpenPort(kPort) != 0) {
    FUZZ_CHECK(false, "the virtual port did not open");
    return;
  }
  Run run{in, peer};

  try {
    for (int step = 0; step < 48 && !in.Empty(); ++step) {
      const uint8_t how = in.Byte();
      const uint64_t start = vt::NowUs();
      switch (how & 7) {
        case 0: {  // a command line as typed in the terminal window
          const std::string command = in.Bytes(in.Byte());
          run.Command(ShortStr(command).str(), Exchange, how);
          break;
        }
        case 1: {  // set, reset or read a relay (negative numbers included)
          const int32_t n = static_cast<int16_t>(in.Word());
          const char* verb = (how & 0x18) == 0 ? "ST " : (how & 0x18) == 8 ? "RS " : "RD ";
          run.Command(verb + std::to_string(n), Exchange, how);
          break;
        }
        case 2: {  // DM words: any 32-bit address and value go out as 16-bit words
          const int32_t address = in.Int32();
          const int32_t value = in.Int32();
          if (how & 8) {
            run.MaybeScheduleEsc(how, false);
            const bool escBefore = EscAbort;
            const size_t before = vt::WrittenText(kPort).size();
            ShortStr answer;
            KvWriteDm(kPort, address, value, answer);
            const std::string line = "WR DM" + std::to_string(static_cast<uint16_t>(address)) + " " +
                                     std::to_string(static_cast<uint16_t>(value)) + "\r";
            const std::string written = WrittenSince(before);
            FUZZ_CHECK(escBefore ? written.empty() : IsPrefix(written, line), "KvWriteDm sent another line");
            if (!escBefore && !EscAbort) FUZZ_CHECK(written == line, "KvWriteDm line incomplete");
            run.CheckEnded(start);
          } else {
            run.Command("RD DM" + std::to_string(static_cast<uint16_t>(address)), Exchange, how);
          }
          break;
        }
        case 3: {  // the communication request and its retries
          run.MaybeScheduleEsc(how, false);
          const bool escBefore = EscAbort;
          const size_t before = vt::WrittenText(kPort).size();
          ShortStr answer;
          KvCommRequest(kPort, answer);
          const std::string written = WrittenSince(before);
          FUZZ_CHECK(AllLinesAre(written, "CR\r"), "the communication request sent another line");
          FUZZ_CHECK(written.size() <= 9, "more than three communication requests");
          if (escBefore) FUZZ_CHECK(written.empty() && answer.empty(), "CR sent under EscAbort");
          run.CheckEnded(start);
          break;
        }
        case 4: {  // timer read: the contact, then whatever lies beyond 13 characters
          run.MaybeScheduleEsc(how, false);
          ShortStr answer;
          const int32_t n = in.Byte();
          KvReadTimer(kPort, n, answer);
          // At most one read (48 bytes) less the twelve value characters.
          FUZZ_CHECK(answer.size() <= 36, "timer answer kept its values");
          run.CheckEnded(start);
          break;
        }
        case 5: {  // wait for a relay to reach a state: ends on the state or on Esc
          run.MaybeScheduleEsc(how, true);
          const int32_t n = static_cast<int16_t>(in.Word());
          const size_t before = vt::WrittenText(kPort).size();
          const char key = KvWaitRelay(kPort, n);
          const long long relay = n < 0 ? -static_cast<long long>(n) : n;
          FUZZ_CHECK(AllLinesAre(WrittenSince(before), "RD " + std::to_string(relay) + "\r"),
                     "the relay wait sent another line");
          FUZZ_CHECK(key == (KeyBuffer.empty() ? '\0' : KeyBuffer[0]), "the relay wait returned a key not typed");
          run.CheckEnded(start);
          break;
        }
        case 6: {  // wait for a timer contact
          run.MaybeScheduleEsc(how, true);
          const int32_t n = in.Byte();
          const size_t before = vt::WrittenText(kPort).size();
          const int32_t polls = KvWaitTimer(kPort, n);
          const std::string written = WrittenSince(before);
          FUZZ_CHECK(AllLinesAre(written, "RD T" + std::to_string(n) + "\r"), "the timer wait sent another line");
          FUZZ_CHECK(polls >= 1, "the timer wait made no poll");
          FUZZ_CHECK(vt::NowUs() - start >= static_cast<uint64_t>(polls) * 100'000, "timer polls came too fast");
          run.CheckEnded(start);
          break;
        }
        default: {  // the operator: keys typed meanwhile, Esc, a pause, a fresh start
          const uint8_t what = in.Byte();
          if (what == 0) vt::PushExtended(72);  // a real keyboard sends the pair
          else if (what < 64) vt::PushKeys(std::string(1, static_cast<char>(what)));
          else if (what < 128) vt::PushKeys("\x1b");
          else if (what < 192) vt::AdvanceUs(static_cast<uint64_t>(what - 128) * 10'000);
          else ResetKeys();
          break;
        }
      }
    }
  } catch (const vt::Spin&) {
    FUZZ_CHECK(false, "the host-link layer spins without letting time pass");
  } catch (const vt::ScriptEnd&) {
    FUZZ_CHECK(false, "the host-link layer blocked on a key");
  }
}
