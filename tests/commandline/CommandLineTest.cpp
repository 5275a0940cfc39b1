// The console's command line: --help and --version print and end with 0,
// anything else is one line on the error stream and status 2, and no
// argument at all starts the console.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "console/CommandLine.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Parse(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = ConsoleCommandLine(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(ConsoleCommandLine, NoArgumentsStartsTheConsole) {
  const Outcome o = Parse({});
  EXPECT_EQ(o.status, kConsoleStart);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
}

TEST(ConsoleCommandLine, HelpNamesThePortsAndTheManual) {
  for (const char* arg : {"--help", "-h"}) {
    const Outcome o = Parse({arg});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, ConsoleHelp());
    EXPECT_EQ(o.out.rfind("Usage: vekton [--help | --version]\n", 0), 0u) << o.out;
    for (const char* want : {"VEKTON_COM<n>", "tcp://HOST:PORT", "rfc2217://HOST:PORT", "/dev/ttyS<n-1>", "COMn",
                             "MANUAL.md", "man vekton", "--version"})
      EXPECT_NE(o.out.find(want), std::string::npos) << want;
  }
  // Lines that fit an 80-column terminal.
  std::istringstream lines(ConsoleHelp());
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
}

TEST(ConsoleCommandLine, VersionIsTheBuildsOne) {
  const Outcome o = Parse({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string("vekton ") + VEKTON_VERSION + "\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(ConsoleVersion(), std::string("vekton ") + VEKTON_VERSION);
}

TEST(ConsoleCommandLine, AnythingElseIsOneLineAndStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "vekton: unknown option --bogus (see --help)\n"},
      {{"-x"}, "vekton: unknown option -x (see --help)\n"},
      {{"COM1"}, "vekton: unexpected argument \"COM1\": the console takes none (see --help)\n"},
      {{""}, "vekton: unexpected argument \"\": the console takes none (see --help)\n"},
      {{"\x1b[2J"}, "vekton: unexpected argument \"?[2J\": the console takes none (see --help)\n"},
      {{"1", "--help"}, "vekton: unexpected argument \"1\": the console takes none (see --help)\n"},
  };
  for (const auto& [args, err] : cases) {
    const Outcome o = Parse(args);
    EXPECT_EQ(o.status, 2) << args.front();
    EXPECT_EQ(o.out, "") << args.front();
    EXPECT_EQ(o.err, err);
  }
  // --help and --version act where they stand, as in vekton-report.
  EXPECT_EQ(Parse({"--version", "junk"}).status, 0);
}

TEST(ConsoleCommandLine, CannotStartIsOneLine) {
  EXPECT_EQ(ConsoleCannotStart("standard input is not a terminal"),
            "vekton: cannot start: standard input is not a terminal (see --help)");
}

}  // namespace
