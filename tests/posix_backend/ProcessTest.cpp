// Another program run on the real system: arguments reach it untouched, its
// output lands in the file, and at the deadline it is stopped together with
// what it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Process.h"

namespace {

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Gone, or a zombie that only waits for a parent to reap it, within a
// second: a killed process still has to be scheduled to die.
bool Gone(int pid) {
  for (int i = 0; i < 100; ++i, usleep(10000)) {
    if (kill(pid, 0) != 0) return true;
    const std::string stat = Content("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (paren != std::string::npos && stat.compare(paren, 4, ") Z ") == 0) return true;
  }
  return false;
}

TEST(PosixProcess, ArgumentsArriveAsGivenAndTheFolderGoesWithEverythingInIt) {
  std::string folder;
  ASSERT_EQ(TempFolderCreate(folder), 0);
  const std::string log = folder + "/out put ä.log";
  const ProgramOutcome o = RunProgram(
      "/bin/sh", {"-c", "printf '%s|' \"$@\"; echo; echo oops >&2; exit 7", "sh", "a b", "ä \"q\"", "$HOME", "*", ""},
      log, 5000);
  EXPECT_EQ(o.error, 0);
  EXPECT_FALSE(o.timedOut);
  EXPECT_EQ(o.exitCode, 7);
  EXPECT_EQ(Content(log), "a b|ä \"q\"|$HOME|*||\noops\n");
  EXPECT_EQ(RunProgram(folder + "/none", {}, log, 5000).error, ENOENT);

  ASSERT_EQ(system(("mkdir -p '" + folder + "/profile/Default' && touch '" + folder + "/profile/Default/x'").c_str()),
            0);
  TempFolderRemove(folder);
  EXPECT_NE(access(folder.c_str(), F_OK), 0);
}

TEST(PosixProcess, AtTheDeadlineTheProgramAndItsHelpersAreStopped) {
  char tmpl[] = "/tmp/vekton-process-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const auto start = std::chrono::steady_clock::now();
  const ProgramOutcome o =
      RunProgram("/bin/sh", {"-c", "sleep 30 & echo $! > '" + dir + "/helper'; sleep 30"}, dir + "/log", 300);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(o.timedOut);
  EXPECT_LT(took, std::chrono::seconds(3));
  const int helper = std::atoi(Content(dir + "/helper").c_str());
  ASSERT_GT(helper, 0);
  EXPECT_TRUE(Gone(helper)) << "the helper outlived the run";
  TempFolderRemove(dir);
}

}  // namespace
