// Trace files read back: one file record by record, in large blocks, and a
// folder's files gathered into runs. Files are only ever read.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TraceRecord.h"

namespace trace {

// Called with each record of a file and its line as the file holds it
// (without the LF); the record is only valid during the call.
using RecordSink = std::function<void(const Record& record, std::string_view line)>;
// Called with the number (from 1) of a line that is not a record, and why.
using BadLineSink = std::function<void(int64_t lineNumber, const std::string& why)>;

// Reads the file at path, the whole of it, in blocks: each record goes to
// onRecord in file order, each line that is not one to onBad (and is
// skipped). A last line without its LF is not read, as it may be half
// written: a file being written or one cut short reads up to its last whole
// line. Returns 0, or the system's error code when the file cannot be opened
// or read (the records before it have been handed on).
int ReadTraceFile(const std::string& path, const RecordSink& onRecord, const BadLineSink& onBad);
// The system's text for such an error code.
std::string ReadErrorText(int code);

// The first record of a file (its HEAD) and its last whole record; false
// for either when the file holds none that reads.
struct FileEnds {
  bool hasFirst = false, hasLast = false;
  Record first, last;
};
int ReadFileEnds(const std::string& path, FileEnds& ends);

struct RunPart {
  std::string path;  // folder and name
  std::string name;
  int part = 1;
  uint64_t bytes = 0;
};
struct RunFiles {
  std::string key;             // the names' run part, e.g. vekton-20261208-232256-4711
  std::vector<RunPart> parts;  // in part order
};
// The runs whose files are in folder (other files are left alone), in the
// order they began, each with the parts it still has. Returns 0 or the
// system's error code when the folder cannot be read.
int FindRuns(const std::string& folder, std::vector<RunFiles>& runs);

}  // namespace trace
