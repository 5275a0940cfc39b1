// The line's trace, record by record: one record a text line, written by the
// console's recorder and read by vekton-trace. A pure unit: text in, text
// out, no files, no clock.
//
// A record is
//
//   2026-12-08T23:22:56.123456+01:00 12.345678 TX RD DM200<CR>
//
// the wall-clock time with microseconds and the UTC offset, the seconds since
// the run began (microseconds), the record's word and, after one blank, the
// payload (no blank and no payload when it is empty). The payload holds
// printable ASCII as it is and every other byte named (<CR>, <LF>, <ETX>,
// <ESC>, <DEL>, ...) or as \xNN; '<' and '\' themselves are written \x3C and
// \x5C, so that every payload reads back as exactly the bytes written. No
// record holds a control byte, and every one ends with LF.
//
// TX holds the bytes written, RX the bytes read; every other word is an event
// whose payload is a text of the program's (escaped the same way). HEAD is the
// first record of every file: see TraceHeader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trace {

enum class Word : uint8_t {
  kHead,
  kTx,
  kRx,
  kOpen,
  kClose,
  kPurge,
  kLost,
  kBack,
  kEsc,
  kChoice,
  kTest,
  kResult,
};

// "TX", "OPEN", ...; WordFromName the other way (false for any other text).
const char* WordName(Word w);
bool WordFromName(std::string_view name, Word& w);

struct Record {
  int64_t wallUs = 0;       // microseconds since 1970-01-01 00:00 UTC
  int offsetMinutes = 0;    // the local time's offset from UTC, -1439..1439
  uint64_t sinceUs = 0;     // microseconds since the run began
  Word word = Word::kHead;
  std::string payload;      // the bytes themselves, unescaped
};

// The longest payload a record carries; the recorder cuts longer ones into
// several records, and the reader refuses a line that would unescape to more.
constexpr size_t kMaxPayload = 4096;
// The longest record line the writer makes: every payload byte as \xNN.
constexpr size_t kMaxLine = 64 + 4 * kMaxPayload;

// The record as its line, LF included. payload is cut at kMaxPayload.
std::string FormatRecord(const Record& r);
// Appends the escaped form of bytes to out.
void EscapeBytes(std::string_view bytes, std::string& out);
// The bytes an escaped text stands for; false (why says where) when it holds
// a byte or a name the writer never makes.
bool UnescapeBytes(std::string_view text, std::string& bytes, std::string* why = nullptr);

// Reads one record line (without its LF; a CR before it is taken off).
// False with why when the line is not a record.
bool ParseRecord(std::string_view line, Record& r, std::string* why = nullptr);

// Reads exactly n decimal digits at text[pos] and moves pos past them;
// false (pos unmoved) when they are not there.
bool ReadDigits(std::string_view text, size_t& pos, size_t n, int64_t& value);

// "2026-12-08T23:22:56.123456+01:00": the wall-clock part of a record.
std::string FormatWallClock(int64_t wallUs, int offsetMinutes);
// The other way; false when text is not such a time.
bool ParseWallClock(std::string_view text, int64_t& wallUs, int& offsetMinutes);

// What a run's HEAD record says: the program, its version, the file's part
// of the run (1 for the first file, 2 for its continuation, ...), the host,
// the port with what it opens, and the operator. Its payload is
//   vekton 1.0.0 part=1 host=lab-pc port=1 line=/dev/ttyUSB0 operator=Anna
// with the operator last, so that a name may hold blanks.
struct Header {
  std::string program;
  std::string version;
  int part = 1;
  std::string host;
  int port = 0;
  std::string line;
  std::string operatorName;
};
std::string HeaderPayload(const Header& h);
bool ParseHeader(std::string_view payload, Header& h);

// Where a user's traces are kept by default, from the environment's values
// (nullptr or "" for a variable that is not set): on Windows
// %LOCALAPPDATA%\Vekton\trace, elsewhere $XDG_STATE_HOME/vekton/trace, else
// $HOME/.local/state/vekton/trace. "" when none of them is set.
std::string DefaultFolder(bool windows, const char* xdgStateHome, const char* home, const char* localAppData);

// A trace file's name: vekton-YYYYMMDD-HHMMSS-PID.trace for a run's first
// file, vekton-YYYYMMDD-HHMMSS-PID.N.trace for its N-th (N >= 2), from the
// run's start in local time.
std::string FileName(int year, int month, int day, int hour, int minute, int second, long pid, int part);
// What a name says, false for a name that is not a trace file's. runKey is
// the name's run part ("vekton-20261208-232256-4711"): files of one run share
// it, and runs sort by it in the order they began.
bool ParseFileName(std::string_view name, std::string& runKey, int& part);

}  // namespace trace
