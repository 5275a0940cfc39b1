// The command line of vekton-report, as functions: arguments in, files read
// and written through the platform, messages to the given streams, the exit
// status back. The console makes its page for a finished run with the same
// calls.
#pragma once
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "report/Acceptance.h"
#include "report/ResultFile.h"

namespace report {

// A result file is some tens of kilobytes a day of running; anything far
// beyond a year's worth is not one.
constexpr size_t kMaxResultFileBytes = size_t{64} << 20;

// "vekton-report" and the version, for --version and the page's footer.
std::string Generator();

// A file's name or an argument as a message shows it: its bytes, with
// control characters as '?' so that nothing given can act on the terminal.
// The console's own command line shows its arguments the same way.
std::string Shown(std::string_view text);

// Writes an output of the program's (a page, a table, a PDF) at path, never
// over a file that is there unless force, and says so: "Page written: X" to
// out, or why not, after "program: ", to err. 0, or 1 when not written.
int WriteOutput(std::string_view program, const std::string& path, const std::string& bytes, bool force,
                const char* what, std::ostream& out, std::ostream& err);

// The page beside a result file: X.spf gives X.html.
std::string PagePathFor(std::string_view resultFile);

// The console's note beside a result file when the line to the store was
// lost during the run: X.spf gives X.line.txt. Two lines,
//   Line lost: <times>
//   Down [s]: <seconds in all>
std::string LineNotePathFor(std::string_view resultFile);
std::string LineNoteText(int64_t losses, int64_t downSeconds);
// True when text is such a note; the figures then in losses and downSeconds.
bool ParseLineNote(std::string_view text, int64_t& losses, int64_t& downSeconds);

struct ReadOutcome {
  bool read = false;
  int line = 0;         // where the file stopped being a result file, 0 for none
  std::string message;  // why it was not read
};
// Reads the result file at path (opened for reading only) into run, with
// the line note beside it when there is one.
ReadOutcome ReadRunFile(const std::string& path, Run& run);

// A limits file is a few kilobytes; anything beyond this is not one.
constexpr size_t kMaxLimitsFileBytes = size_t{1} << 20;
// The limits file the console takes from the folder of its result files.
constexpr const char* kLimitsFileName = "limits.toml";

// Reads the limits file at path (opened for reading only). False with the
// reason in message, "PATH:LINE: reason" or "PATH: reason", and limits
// untouched.
bool ReadLimitsFile(const std::string& path, Limits& limits, std::string& message);

// vekton-report itself: 0 every input read (runs cut short included) and,
// with limits, every run accepted; 1 an input not read or not a result
// file, the limits file refused, or an output not written; 2 a usage error;
// 3 with limits, a run read that is not accepted (1 and 2 come first).
constexpr int kNotAcceptedStatus = 3;
int ReportMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace report
