// The console's command line. Started without arguments (or with the trace
// and limits options alone) the console takes over the terminal; --help and --version
// only print, and anything else is a usage error. Nothing here touches the
// terminal, so both work with standard output redirected.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/Trace.h"

// What the console does with its arguments (argv without the program's
// name): kStart to go on and start, otherwise the exit status, having
// printed the help or the version to out (status 0) or one line naming the
// mistake to err (status 2).
//
// The trace options fill trace, which starts as TraceSetup's defaults:
//   --trace DIR       the folder (a name that is not empty);
//   --trace-max MB    the folder's bound, a whole number of MB (1 MB is
//                     1 048 576 bytes) from 1 to kTraceMaxMb;
//   --no-trace        nothing recorded, whatever the other two say.
// A later --trace or --trace-max replaces an earlier one. trace is only
// meaningful when kConsoleStart is returned.
//
// --limits FILE names the limits file that judges the random-access test's
// page instead of limits.toml in the folder of the result files; given
// once, it lands in limitsFile (empty without it). The file is read and
// checked here, before the terminal is taken, so that a typo stops the
// start rather than an overnight run's verdict: a file not read or refused
// is one line "vekton: FILE:LINE: reason" and status 2.
//
// --archive DB names the archive each finished random-access run's result
// file goes into; given once, it lands in archiveFile. The archive is opened
// (made when missing) here as well: one that cannot be is one line
// "vekton: DB: reason" and status 2. A build without the archive refuses the
// option the same way.
constexpr int kConsoleStart = -1;
constexpr unsigned kTraceMaxMb = 1048576;
int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace, std::string& limitsFile, std::string& archiveFile);
// The same, the archive's or the limits file's name dropped, or the trace's
// setup as well.
int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace, std::string& limitsFile);
int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace);
int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of --help; the port mapping it names is the platform's.
std::string ConsoleHelp();
// "vekton <version>", the text of --version.
std::string ConsoleVersion();

// The line (without its newline) for a console started where it cannot work;
// why is the platform's reason, e.g. "standard input is not a terminal".
// The exit status is then kConsoleUsageExit.
std::string ConsoleCannotStart(const std::string& why);
constexpr int kConsoleUsageExit = 2;
