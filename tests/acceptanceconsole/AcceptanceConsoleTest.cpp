// The random-access test judged by a limits file: the whole program against
// the simulated store on the virtual platform, a short run, Esc, Q, and what
// the screen, the result file and its page show at the summary's key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/InProcessRun.h"
#include "console/RandomAccess.h"
#include "platform/ScreenModel.h"
#include "report/Cli.h"
#include "report/Page.h"
#include "sim/Harness.h"

namespace {

constexpr uint64_t kRunUs = 10 * 60'000'000ull;

struct Outcome {
  std::vector<std::string> screen;  // at the summary's key, trailing blanks cut
  std::string file, page;           // the result file and the page beside it
  report::Run run;                  // the result file read back
};

std::string Whole(std::string_view path) {
  std::string s;
  for (const std::string& line : vt::FileLines(path)) s += line + "\n";
  return s;
}

// A run of ten minutes of store time, with limitsToml in the folder when it
// is not empty and givenToml as given.toml with --limits when it is not.
// limits.toml lands only once the run has ended, at the quit question: the
// limits that count are those there when the page is written.
Outcome RunWith(const std::string& limitsToml, const std::string& givenToml = "") {
  sim::StorePeer store;
  ScriptRandomAccessRun(store, "2", kRunUs, nullptr);
  if (!givenToml.empty()) vt::PutFile("given.toml", givenToml);
  LimitsFile = givenToml.empty() ? "" : "given.toml";
  Outcome o;
  // The summary's key is the feeder's step after Q: the screen is taken then.
  const std::vector<std::string> steps = {"1\r", "\r", "7\r", "Y", "2\r", "N", "Q", " ", "0\r"};
  vt::SetKeyFeeder([&o, &limitsToml, steps, next = size_t{0}]() mutable {
    if (next >= steps.size()) return false;
    if (steps[next] == "Q" && !limitsToml.empty()) vt::PutFile(report::kLimitsFileName, limitsToml);
    if (steps[next] == " ")
      for (int y = 1; y <= ScreenModel::kRows; ++y) {
        std::string r = gScreen.Row(y);
        r.erase(r.find_last_not_of(' ') + 1);
        o.screen.push_back(r);
      }
    vt::PushKeys(steps[next]);
    if (steps[next] == "N") vt::PushKeysAt(vt::NowUs() + kRunUs, "\x1b");
    ++next;
    return true;
  });
  RunProgram();
  LimitsFile.clear();
  o.file = Whole(ResultFileName.view());
  o.page = Whole(report::PagePathFor(ResultFileName.str()));
  EXPECT_TRUE(report::ReadRunFile(ResultFileName.str(), o.run).read);
  return o;
}

std::string Page(const report::Run& run, const report::Limits* limits) {
  std::string page = report::WritePage({run}, "vekton " VEKTON_VERSION, limits);
  // FileLines drops the line ends: compare as the file reads back.
  if (!page.empty() && page.back() != '\n') page += '\n';
  return page;
}

report::Limits Read(const std::string& toml, const std::string& name = report::kLimitsFileName) {
  report::Limits limits;
  report::Problem problem;
  EXPECT_TRUE(report::ReadLimits(toml, name, limits, problem)) << problem.text;
  return limits;
}

size_t RowOf(const std::vector<std::string>& screen, const std::string& start) {
  for (size_t i = 0; i < screen.size(); ++i)
    if (screen[i].rfind(start, 0) == 0) return i;
  return screen.size();
}

// The text from row i on as the screen wraps it: a line wider than the
// screen goes on at the start of the next row, as the console's other long
// lines do.
std::string Wrapped(const std::vector<std::string>& screen, size_t i, size_t rows) {
  std::string s;
  for (size_t k = i; k < i + rows && k < screen.size(); ++k) s += screen[k] + std::string(80 - screen[k].size(), ' ');
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

const Outcome& Unjudged() {
  static const Outcome o = RunWith("");
  return o;
}

TEST(AcceptanceConsole, WithoutLimitsNothingChanges) {
  const Outcome& o = Unjudged();
  ASSERT_LT(RowOf(o.screen, "Report page: 1234_00.html"), o.screen.size());
  EXPECT_EQ(RowOf(o.screen, "Acceptance"), o.screen.size());
  EXPECT_EQ(o.page, Page(o.run, nullptr));
  EXPECT_EQ(o.page.find("ACCEPTED"), std::string::npos);
}

// The folder's file judges the page; the verdict is one line right under
// the page's, and every line above it is the run's as without limits.
TEST(AcceptanceConsole, TheFoldersLimitsJudgeThePageAndTheVerdictIsOneLine) {
  const std::string toml = "[run]\nmin_accesses = 5\n[ready]\nmax_max_s = 300.0\n";
  const Outcome o = RunWith(toml);
  const report::Limits limits = Read(toml);
  const size_t page = RowOf(o.screen, "Report page: 1234_00.html");
  ASSERT_LT(page + 1, o.screen.size());
  EXPECT_EQ(o.screen[page + 1], "Acceptance: accepted (3 of 3 criteria)");
  EXPECT_EQ(o.page, Page(o.run, &limits));
  EXPECT_NE(o.page.find("ACCEPTED"), std::string::npos);
  EXPECT_EQ(o.page.find("NOT ACCEPTED"), std::string::npos);
  EXPECT_EQ(o.file, Unjudged().file);
  // The verdict's line pushed the screen up by one; nothing else moved.
  const std::vector<std::string>& before = Unjudged().screen;
  const size_t beforePage = RowOf(before, "Report page: 1234_00.html");
  ASSERT_EQ(page + 1, beforePage);
  for (size_t k = 0; k <= page; ++k) EXPECT_EQ(o.screen[page - k], before[beforePage - k]) << k;

  // A failing criterion named with its figure and limit; --limits wins over
  // the folder's file.
  const Outcome failed = RunWith(toml, "[ready]\nmax_mean_s = 0.5\n");
  const report::Limits strict = Read("[ready]\nmax_mean_s = 0.5\n", "given.toml");
  const std::string verdict = report::VerdictLine(report::Judge(failed.run, strict));
  ASSERT_EQ(verdict.rfind("Acceptance: NOT accepted: Mean Ready time", 0), 0u) << verdict;
  EXPECT_NE(verdict.find("(limit: at most 0.5 s)"), std::string::npos) << verdict;
  ASSERT_GT(verdict.size(), 80u);
  EXPECT_EQ(Wrapped(failed.screen, RowOf(failed.screen, "Report page: ") + 1, 2), verdict);
  EXPECT_EQ(failed.page, Page(failed.run, &strict));
  EXPECT_NE(failed.page.find("NOT ACCEPTED"), std::string::npos);
}

// A file that does not read is the one line with its line and reason: the
// page is written unjudged and the result file is byte for byte the same.
TEST(AcceptanceConsole, ABrokenLimitsFileIsOneLineAndJudgesNothing) {
  const Outcome o = RunWith("[run]\nmin_accesses = 5\n\n[ready]\nmax_mean = 12.0\n");
  const size_t page = RowOf(o.screen, "Report page: 1234_00.html");
  ASSERT_LT(page + 1, o.screen.size());
  EXPECT_EQ(o.screen[page + 1].rfind("Acceptance: not judged: limits.toml:5: ", 0), 0u) << o.screen[page + 1];
  EXPECT_EQ(o.page, Unjudged().page);
  EXPECT_EQ(o.file, Unjudged().file);

  // Bytes from the file that reach the line cannot act on the terminal.
  const Outcome escaped = RunWith("[run]\n\"\\u001b[2J\xc3\xa4\" = 1\n");
  ASSERT_LT(RowOf(escaped.screen, "Acceptance: "), escaped.screen.size());
  const std::string line = escaped.screen[RowOf(escaped.screen, "Acceptance: ")];
  EXPECT_EQ(line.rfind("Acceptance: not judged: limits.toml:2: ", 0), 0u) << line;
  for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
  EXPECT_NE(line.find("?[2J??"), std::string::npos) << line;
}

}  // namespace
