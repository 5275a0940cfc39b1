// The host-link exchange and the commands built on it. Each command is one
// line out and one answer back; the layer keeps no state between calls.
#include "KV_Lib3/KV_Lib3.h"

#include <cstdlib>
#include <cstring>

#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"

namespace {

constexpr int kReadChunk = 50;

// The line to send: the command, with the first negative number rewritten as
// its 16-bit two's complement (the controller takes only unsigned words), and
// the CR. Returns its length.
size_t BuildLine(const ShortStr& command, char (&line)[ShortStr::kMax + 8]) {
  std::string_view cmd = command.view();
  size_t len = cmd.size();
  std::memcpy(line, cmd.data(), len);
  const size_t minus = cmd.find('-');
  if (minus != std::string_view::npos) {
    uint32_t v = 0;
    for (size_t i = minus + 1; i < cmd.size() && cmd[i] >= '0' && cmd[i] <= '9'; ++i)
      v = (v * 10 + static_cast<uint32_t>(cmd[i] - '0')) % 65536u;
    const uint32_t twos = (65536u - v) % 65536u;
    len = minus;
    ShortStr digits = NumStr(twos);
    std::memcpy(line + len, digits.data(), digits.size());
    len += digits.size();
  }
  line[len++] = 13;
  return len;
}

}  // namespace

int32_t KvValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(v);
}

int KvOpenPort(int port) {
  ResetKeys();
  return ComOpen(port, 9600, 'E', 8, 1);
}

void KvExchange(int port, const ShortStr& command, ShortStr& answer) {
  if (EscAbort) {
    answer.Clear();
    return;
  }
  char line[ShortStr::kMax + 8];
  const size_t len = BuildLine(command, line);
  // The line is sent whole. A line that goes away before its CR has gone
  // out cannot have moved the store: the command waits for the line and
  // goes again from its start. Once the CR has gone, it is never sent again;
  // a lost answer is an empty one.
  // A line the operator has given up with Esc is not waited for again: the
  // exchange goes on as over a silent line, with an empty answer.
  bool escaped = false;
  for (bool again = true; again;) {
    again = false;
    ComPurge(port);
    for (size_t i = 0; i < len; ++i) {
      if (PollKey() == kEsc) {
        escaped = true;
        break;
      }
      if (ComWriteByte(port, static_cast<uint8_t>(line[i])) == 0 && ComNoteFailure(port)) {
        again = ComAwaitLine(port);
        break;
      }
    }
  }
  Delay(1);

  ShortStr reply;
  int emptyReads = 0;
  bool shortError = false;
  while (reply.empty() && !shortError && emptyReads < 2 && PollKey() != kEsc) {
    uint8_t buf[kReadChunk];
    int n = ComReadRaw(port, buf, kReadChunk);
    if (n > 0) {
      // The controller ends its answer with CR LF; a single byte is kept whole.
      size_t keep = n == 1 ? 1 : static_cast<size_t>(n - 2);
      if (keep > sizeof buf) keep = sizeof buf;  // a read never brings more than it asked for
      reply.Assign(std::string_view(reinterpret_cast<const char*>(buf), keep));
      shortError = n == 2 && buf[0] == 'E';
    } else {
      Delay(1);
      ++emptyReads;
    }
  }
  if (PollKey() != kEsc)
    answer = reply;
  else
    escaped = true;
  if (escaped) NoteEscape(command.view());
}

void KvCommRequest(int port, ShortStr& answer) {
  KvExchange(port, "CR", answer);
  for (int retries = 0; !(answer == "CC") && retries < 2; ++retries) {
    WaitTenths(1);
    KvExchange(port, "CR", answer);
  }
}

void KvCommQuit(int port, ShortStr& answer) { KvExchange(port, "CQ", answer); }

void KvSetRelay(int port, int32_t n, ShortStr& answer) { KvExchange(port, ShortStr("ST ") + NumStr(n), answer); }

void KvResetRelay(int port, int32_t n, ShortStr& answer) { KvExchange(port, ShortStr("RS ") + NumStr(n), answer); }

void KvReadRelay(int port, int32_t n, ShortStr& answer) { KvExchange(port, ShortStr("RD ") + NumStr(n), answer); }

void KvReadTimer(int port, int32_t n, ShortStr& answer) {
  KvExchange(port, ShortStr("RD T") + NumStr(n), answer);
  // Only the contact state (first character) is of interest; the current and
  // preset values (characters 2 to 13) are dropped.
  if (!answer.empty()) answer.Erase(1, 12);
}

void KvWriteDm(int port, int32_t address, int32_t value, ShortStr& answer) {
  KvExchange(port,
             ShortStr("WR DM") + NumStr(static_cast<uint16_t>(address)) + " " + NumStr(static_cast<uint16_t>(value)),
             answer);
}

void KvReadDm(int port, int32_t address, ShortStr& answer) {
  KvExchange(port, ShortStr("RD DM") + NumStr(static_cast<uint16_t>(address)), answer);
}

char KvWaitRelay(int port, int32_t n) {
  const char* target = n > 0 ? "1" : "0";
  const long long relay = std::llabs(static_cast<long long>(n));
  ShortStr answer;
  for (;;) {
    WaitTenths(2);
    KvExchange(port, ShortStr("RD ") + NumStr(relay), answer);
    if (answer == target) break;
    if (PollKey() == kEsc) break;
  }
  return KeyBuffer.empty() ? '\0' : KeyBuffer[0];
}

int32_t KvWaitTimer(int port, int32_t n) {
  int32_t count = 0;
  bool esc = false;
  ShortStr answer;
  do {
    WaitTenths(1);
    KvExchange(port, ShortStr("RD T") + NumStr(n), answer);
    ++count;
    if (PollKey() == kEsc) esc = true;
  } while (!(answer[0] == '1' && !answer.empty()) && !esc);
  return count;
}
