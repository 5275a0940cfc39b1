// A run ended by a signal: the platform runs its exit hooks on the way out,
// and the result file gets the histogram and the summary of what was
// gathered, without anyone pressing a key.
#include <algorithm>
#include <cstdio>

#include "RandomFixture.h"

namespace {

// Stands in for the exit at the program's next yield after a signal: the
// run is abandoned where it stands, then the hooks run.
struct Interrupted {};

size_t IndexOf(const std::vector<std::string>& lines, const std::string& text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (Contains(lines[i], text)) return i;
  return lines.size();
}

}  // namespace

TEST_F(RandomTest, ASignalDuringTheRunEndsTheFileWithTheSummaryWithoutAKey) {
  Keys({"Y", "1\r", "N"});  // standard test, 1 s interval, one plate
  int accesses = 0;
  onLine = [&accesses](const std::string& line) {
    if (IsAccessRelay(line) && ++accesses == 6) throw Interrupted{};
  };
  EXPECT_THROW(Run(), Interrupted);
  ASSERT_TRUE(ResultFile.IsOpen());
  const auto before = vt::FileLines("1234_00.spf");
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before.back(), "Temp  Hmd   CO2   Opt");  // only the climate section so far
  const size_t keysAsked = screens.size();
  const uint16_t counted = AccessNumber;
  ASSERT_GE(counted, 4);

  vt::RunExitHooks();
  EXPECT_EQ(screens.size(), keysAsked) << "the hook waited for a key";
  EXPECT_FALSE(ResultFile.IsOpen());
  EXPECT_FALSE(LogToFile);

  const auto file = vt::FileLines("1234_00.spf");
  ASSERT_GT(file.size(), before.size());
  // What was on disk stays as it was; the ending follows it, in order.
  EXPECT_TRUE(std::equal(before.begin(), before.end(), file.begin()));
  const size_t stats = IndexOf(file, "Handling Times Statistics");
  const size_t columns = IndexOf(file, "[s]   Mean Min. Max.      Mean Min. Max.");
  const size_t summary = IndexOf(file, "Complete Test Summary");
  EXPECT_LT(before.size(), stats);
  EXPECT_LT(stats, columns);
  EXPECT_LT(columns, summary);
  ASSERT_LT(summary, file.size());
  EXPECT_TRUE(StartsWith(file.back(), "Mean UnLoad Time:")) << file.back();
  char total[64];
  std::snprintf(total, sizeof total, "Total Accesses:        %5u", static_cast<unsigned>(counted));
  ASSERT_LT(IndexOf(file, "Total Accesses:"), file.size());
  EXPECT_EQ(file[IndexOf(file, "Total Accesses:")], total);
  // Some access was timed, so the histogram has rows.
  EXPECT_GT(summary - columns, 2u);

  // A second way out (the normal end after a signal's) finds nothing to do.
  vt::RunExitHooks();
  EXPECT_EQ(vt::FileLines("1234_00.spf"), file);
}

TEST_F(RandomTest, AfterARunThatEndedNormallyTheExitHookLeavesItsFileAlone) {
  Keys({"Y", "1\r", "N"});
  EscAtAccess(3);
  ASSERT_TRUE(Run());
  const auto file = vt::FileLines("1234_00.spf");
  ASSERT_TRUE(StartsWith(file.back(), "Mean UnLoad Time:"));
  // The next run's file is finished by the same hook, registered once.
  Keys({"Y", "1\r", "N"});
  int accesses = 0;
  onLine = [&accesses](const std::string& line) {
    if (IsAccessRelay(line) && ++accesses == 3) throw Interrupted{};
  };
  EXPECT_THROW(Run(), Interrupted);
  ASSERT_TRUE(ResultFile.IsOpen());
  vt::RunExitHooks();
  EXPECT_EQ(vt::FileLines("1234_00.spf"), file);
  const auto second = vt::FileLines("1234_01.spf");
  ASSERT_FALSE(second.empty());
  EXPECT_TRUE(StartsWith(second.back(), "Mean UnLoad Time:"));
  // Once: the hook registered with the first file did not come twice.
  EXPECT_EQ(std::count_if(second.begin(), second.end(),
                          [](const std::string& l) { return Contains(l, "Complete Test Summary"); }),
            1);
}

TEST_F(RandomTest, AQuitDuringAnAccessSendsNoLiftOrCarrouselMoveAfterIt) {
  Keys({"Y", "1\r", "N"});
  EscAtAccess(3);
  ASSERT_TRUE(Run());
  const auto commands = Commands();
  int accesses = 0;
  size_t third = commands.size();
  for (size_t i = 0; i < commands.size(); ++i)
    if (IsAccessRelay(commands[i]) && ++accesses == 3) third = i;
  ASSERT_LT(third, commands.size());
  // The store may still be busy with the access the quit came in: nothing
  // more is sent into it, neither the lift (DM6) nor the carousel (DM0).
  for (size_t i = third + 1; i < commands.size(); ++i) {
    EXPECT_FALSE(StartsWith(commands[i], "WR DM6 ")) << commands[i];
    EXPECT_FALSE(StartsWith(commands[i], "WR DM0 ")) << commands[i];
    EXPECT_FALSE(IsAccessRelay(commands[i])) << commands[i];
  }
  EXPECT_EQ(accesses, 3);
}
