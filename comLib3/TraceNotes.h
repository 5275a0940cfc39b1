// What the program tells the line's trace (platform/Trace.h) beside the
// bytes: the events only it knows, in the words and payloads vekton-trace
// reads. Each place that has such an event makes one call here, so no
// screen knows the recorder. Every call is harmless while the recorder is
// off or stopped.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The run's first record, once the port and the operator are known and
// before the port opens.
void NoteRunHeader(std::string_view operatorName, int port);
// One port opening, whatever its outcome: OPEN
// "COM<n> <line> <baud> <data><parity><stop> code <code>", e.g.
// "COM1 /dev/pts/3 9600 8E1 code 0"; line is what port n opens
// (SerialPortLine), parity 'N', 'E' or 'O'.
void NotePortOpen(int port, uint32_t baud, char parity, unsigned dataBits, unsigned stopBits, int code);
// An exchange that Esc ended, while its command went out or before its
// answer was taken: ESC with the command as given, e.g. "RD 1915".
void NoteEscape(std::string_view command);
// A main-menu choice: CHOICE "<key> <label>" for a row the menu shows (the
// label trimmed, e.g. "1 Direct Commands"), the key alone otherwise.
void NoteChoice(char key, const char* label);
// Runs a test between TEST "start <name>" and TEST "end <name>".
void RunNotedTest(std::string_view name, void (*run)());
// A result file made and closed: RESULT "open <file>" / "close <file>".
void NoteResultOpen(std::string_view file);
void NoteResultClose(std::string_view file);
// The judgement of a closed result file by a limits file: RESULT
// "verdict <file> <line>", the line as the screen shows it.
void NoteResultVerdict(std::string_view file, std::string_view line);
// The closed result file put into the archive, or why not: RESULT
// "archive <file> <line>", the line as the screen shows it.
void NoteResultArchive(std::string_view file, std::string_view line);

// "Trace stopped: <file> E<code>" once a failure has stopped the recorder
// (it stays so for the run); false while the trace is fine or off. A line
// longer than width keeps the code and the file's name: the file's path
// loses its start, shown as "...".
bool TraceStoppedNotice(std::string& line, size_t width);
