// The line's flight recorder. Once started, every byte the serial layer
// writes and reads is kept with its time in a trace file, with the events
// around it: the serial layer records the bytes and what happens to the line
// (purged, closed, lost, back); the program adds what only it knows through
// TraceEvent (a port opened, a choice, a test, a result file, an exchange
// ended by Esc). The records are those of platform/TraceRecord.h.
//
// Where: one file per run in the trace folder, named by the run's start and
// the process id. A file is cut at TraceFileLimit bytes and continued in the
// run's next file; once the folder's trace files pass the folder's bound,
// its oldest whole files go (never the one being written).
//
// Nothing held back: each record reaches the system as it is made, so a
// process killed at any moment leaves every record up to its last exchange
// (a command's bytes are one record, written when its CR goes out).
//
// A recorder that cannot write (disk full, no permission, the folder gone)
// stops for the rest of the run and says so through TraceStopped; it never
// fails a serial call, never waits and never touches the screen.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/TraceRecord.h"

struct TraceSetup {
  bool on = true;
  // The folder; "" for the user's (TraceDefaultFolder).
  std::string folder;
  // The bound of the folder's trace files, in bytes.
  uint64_t maxBytes = 256ull << 20;
};

// The user's trace folder on this system ("" when the environment names no
// home to put it in).
std::string TraceDefaultFolder();
// The size a file is cut at under a folder bound: 16 MB, or an eighth of a
// smaller bound.
uint64_t TraceFileLimit(uint64_t maxBytes);

// Starts the run's recording: the run's clock starts here, the folder is
// made where it is missing, but no file is made until TraceHeader. False
// (and TraceStopped says why) when the folder cannot be made.
bool TraceStart(const TraceSetup& setup);
// Opens the run's first file with its header record. Until it is called
// nothing is recorded.
void TraceHeader(std::string_view operatorName, int port);
// An event: the program's (kOpen, kChoice, kTest, kResult, kEsc) or the
// serial layer's (kPurge, kClose, kLost, kBack); text its payload (escaped
// as a record's).
void TraceEvent(trace::Word word, std::string_view text);
// Closes the file; the recorder is off until the next TraceStart.
void TraceStop();
// Recording, not stopped by a failure.
bool TraceRecording();
// Whether a failure stopped the recording: the file it was writing (or the
// folder) and the error code: errno, except on Windows for a file that
// cannot be made or written, whose code is the system's (GetLastError), as
// the console's other Windows errors are. False while it records or is off.
bool TraceStopped(std::string& file, int& code);
// The file being written ("" when none).
std::string TraceFilePath();
