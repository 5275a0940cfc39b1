// The program's events on the line's trace, in the payloads vekton-trace
// reads (TraceNotes.h).
#include "comLib3/TraceNotes.h"

#include "platform/Serial.h"
#include "platform/Trace.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

void NoteRunHeader(std::string_view operatorName, int port) { TraceHeader(operatorName, port); }

void NotePortOpen(int port, uint32_t baud, char parity, unsigned dataBits, unsigned stopBits, int code) {
  if (!TraceRecording()) return;  // no need to ask what the port opens
  std::string text = "COM" + std::to_string(port) + " " + SerialPortLine(port) + " " + std::to_string(baud) + " ";
  text += std::to_string(dataBits);
  text += parity;
  text += std::to_string(stopBits) + " code " + std::to_string(code);
  TraceEvent(trace::Word::kOpen, text);
}

void NoteEscape(std::string_view command) { TraceEvent(trace::Word::kEsc, command); }

void NoteChoice(char key, const char* label) {
  std::string text(1, key);
  const std::string_view shown = label != nullptr ? Trimmed(label) : std::string_view();
  if (!shown.empty()) {
    text += ' ';
    text += shown;
  }
  TraceEvent(trace::Word::kChoice, text);
}

void RunNotedTest(std::string_view name, void (*run)()) {
  TraceEvent(trace::Word::kTest, "start " + std::string(name));
  run();
  TraceEvent(trace::Word::kTest, "end " + std::string(name));
}

void NoteResultOpen(std::string_view file) { TraceEvent(trace::Word::kResult, "open " + std::string(file)); }

void NoteResultClose(std::string_view file) { TraceEvent(trace::Word::kResult, "close " + std::string(file)); }

void NoteResultVerdict(std::string_view file, std::string_view line) {
  TraceEvent(trace::Word::kResult, "verdict " + std::string(file) + " " + std::string(line));
}

void NoteResultArchive(std::string_view file, std::string_view line) {
  TraceEvent(trace::Word::kResult, "archive " + std::string(file) + " " + std::string(line));
}

bool TraceStoppedNotice(std::string& line, size_t width) {
  std::string file;
  int code = 0;
  if (!TraceStopped(file, code)) return false;
  const std::string head = "Trace stopped: ", tail = " E" + std::to_string(code);
  const size_t room = width > head.size() + tail.size() ? width - head.size() - tail.size() : 0;
  if (file.size() > room) file = room > 3 ? "..." + file.substr(file.size() - (room - 3)) : std::string();
  line = head + file + tail;
  if (line.size() > width) line.resize(width);
  return true;
}
