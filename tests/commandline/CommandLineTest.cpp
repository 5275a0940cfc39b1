// The console's command line: --help and --version print and end with 0,
// anything else is one line on the error stream and status 2, and no
// argument at all starts the console.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "console/CommandLine.h"
#include "platform/virtual/Virtual.h"

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

Outcome ParseTrace(const std::vector<std::string>& args, TraceSetup& trace) {
  std::ostringstream out, err;
  trace.folder = "left over";  // whatever the caller had is replaced
  const int status = ConsoleCommandLine(args, out, err, trace);
  return {status, out.str(), err.str()};
}

TEST(ConsoleCommandLine, TraceOptionsFillTheSetupAndStartTheConsole) {
  TraceSetup t;
  ASSERT_EQ(ParseTrace({}, t).status, kConsoleStart);
  EXPECT_TRUE(t.on);
  EXPECT_EQ(t.folder, "");
  EXPECT_EQ(t.maxBytes, 256ull << 20);

  const Outcome o = ParseTrace({"--trace", "/tmp/t one", "--trace-max", "1"}, t);
  EXPECT_EQ(o.status, kConsoleStart);
  EXPECT_EQ(o.out + o.err, "");
  EXPECT_TRUE(t.on);
  EXPECT_EQ(t.folder, "/tmp/t one");
  EXPECT_EQ(t.maxBytes, 1048576u);

  // The later one counts; the largest bound is a whole tebibyte.
  ASSERT_EQ(ParseTrace({"--trace", "a", "--trace-max", "7", "--trace", "b", "--trace-max", "1048576"}, t).status,
            kConsoleStart);
  EXPECT_EQ(t.folder, "b");
  EXPECT_EQ(t.maxBytes, 1ull << 40);

  // --no-trace wins wherever it stands.
  for (const auto& args : std::vector<std::vector<std::string>>{{"--no-trace"},
                                                                {"--no-trace", "--trace", "x"},
                                                                {"--trace", "x", "--no-trace"}}) {
    ASSERT_EQ(ParseTrace(args, t).status, kConsoleStart);
    EXPECT_FALSE(t.on) << args.size();
  }
  // An option's value is taken as it is, even when it looks like an option.
  ASSERT_EQ(ParseTrace({"--trace", "--help"}, t).status, kConsoleStart);
  EXPECT_EQ(t.folder, "--help");
}

TEST(ConsoleCommandLine, TraceValueMistakesAreUsageErrors) {
  const std::string kMax = "vekton: --trace-max wants a whole number of MB from 1 to 1048576, not ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--trace"}, "vekton: --trace needs a folder (see --help)\n"},
      {{"--trace", ""}, "vekton: --trace needs a folder (see --help)\n"},
      {{"--trace-max"}, "vekton: --trace-max needs a number of MB (see --help)\n"},
      {{"--trace-max", "0"}, kMax + "\"0\" (see --help)\n"},
      {{"--trace-max", "1048577"}, kMax + "\"1048577\" (see --help)\n"},
      {{"--trace-max", "-5"}, kMax + "\"-5\" (see --help)\n"},
      {{"--trace-max", " 5"}, kMax + "\" 5\" (see --help)\n"},
      {{"--trace-max", "5MB"}, kMax + "\"5MB\" (see --help)\n"},
      {{"--trace-max", "99999999999999999999999"}, kMax + "\"99999999999999999999999\" (see --help)\n"},
      {{"--trace-max", "\x1b[2J"}, kMax + "\"?[2J\" (see --help)\n"},
      {{"--no-trace", "x"}, "vekton: unexpected argument \"x\": the console takes none (see --help)\n"},
      {{"--no-trace=1"}, "vekton: unknown option --no-trace=1 (see --help)\n"},
  };
  for (const auto& [args, err] : cases) {
    TraceSetup t;
    const Outcome o = ParseTrace(args, t);
    EXPECT_EQ(o.status, 2) << args.back();
    EXPECT_EQ(o.out, "") << args.back();
    EXPECT_EQ(o.err, err);
  }
}

TEST(ConsoleCommandLine, HelpNamesTheTraceOptionsAndTheFolder) {
  const std::string help = ConsoleHelp();
  for (const char* want : {"--trace DIR", "--trace-max MB", "--no-trace", "1 to 1048576",
                           "$XDG_STATE_HOME/vekton/trace, else ~/.local/state/vekton/trace",
                           "%LOCALAPPDATA%\\Vekton\\trace", "Trace stopped:"})
    EXPECT_NE(help.find(want), std::string::npos) << want;
}

// The limits file is read before the start, so a typo stops it with the
// file's line; the usage mistakes are the other options' ones.
TEST(ConsoleCommandLine, LimitsFileIsCheckedBeforeTheStart) {
  vt::Reset();
  vt::PutFile("good.toml", "[run]\nmin_hours = 0.5\n");
  vt::PutFile("typo.toml", "[run]\nmin_hours = 0.5\nmax_car_pos_erors = 0\n");
  TraceSetup t;
  std::string limits = "left over";
  std::ostringstream out, err;
  ASSERT_EQ(ConsoleCommandLine({"--no-trace", "--limits", "good.toml"}, out, err, t, limits), kConsoleStart);
  EXPECT_EQ(limits, "good.toml");
  EXPECT_FALSE(t.on);
  ASSERT_EQ(ConsoleCommandLine({}, out, err, t, limits), kConsoleStart);
  EXPECT_EQ(limits, "");
  EXPECT_EQ(out.str() + err.str(), "");

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--limits", "typo.toml"}, "vekton: typo.toml:3: "},
      {{"--limits", "none.toml"}, "vekton: none.toml: cannot read: "},
      {{"--limits", "\x1b[2J"}, "vekton: ?[2J: cannot read: "},
      {{"--limits"}, "vekton: --limits needs a file name (see --help)\n"},
      {{"--limits", ""}, "vekton: --limits needs a file name (see --help)\n"},
      {{"--limits", "good.toml", "--limits", "good.toml"}, "vekton: --limits given twice (see --help)\n"},
  };
  for (const auto& [args, want] : cases) {
    const Outcome o = Parse(args);
    EXPECT_EQ(o.status, 2) << args.back();
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind(want, 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
  const std::string help = ConsoleHelp();
  for (const char* want : {"--limits FILE", "limits.toml", "Acceptance: NOT accepted"})
    EXPECT_NE(help.find(want), std::string::npos) << want;
}

TEST(ConsoleCommandLine, CannotStartIsOneLine) {
  EXPECT_EQ(ConsoleCannotStart("standard input is not a terminal"),
            "vekton: cannot start: standard input is not a terminal (see --help)");
}

}  // namespace
