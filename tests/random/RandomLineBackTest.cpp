// An overnight run whose line goes away twice and comes back: the test goes
// on by itself, the store performs each access the console asked for once,
// the result file keeps its form, and the screen says how often and how long
// the line was lost.
#include <string>
#include <vector>

#include "RandomFixture.h"
#include "bench/InProcessRun.h"
#include "sim/Harness.h"

namespace {

constexpr uint64_t kMinuteUs = 60'000'000;

struct LossRun {
  int exitCode = -2;
  std::string summaryScreen;
  std::vector<std::string> statusRows;  // row 1 while the line was down
  std::vector<std::string> file;
  std::vector<std::string> note;  // the line note beside the result file
  std::string page;
  std::vector<sim::AccessRecord> records;
  unsigned reopens = 0;
};

// Start-up, choice 7, the standard test with a 2 s interval for an hour of
// store time; the line goes away at 20 min for 45 s and at 40 min for 10 s.
// Nobody presses a key until the Esc at the end.
LossRun RunWithLosses() {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  sim::StorePeer store;
  vt::PortState& port = vt::AttachPort(1, &store);

  LossRun result;
  const std::vector<std::string> steps = {"1\r", "\r", "7\r", "Y", "2\r", "N"};
  size_t next = 0;
  int after = 0;
  vt::SetKeyFeeder([&] {
    if (next < steps.size()) {
      vt::PushKeys(steps[next]);
      if (++next == steps.size()) {
        const uint64_t start = vt::NowUs();
        port.vanishAtUs = start + 20 * kMinuteUs;
        port.backAtUs = start + 20 * kMinuteUs + 45'000'000;
        vt::PushKeysAt(start + 60 * kMinuteUs, "\x1b");
      }
      return true;
    }
    const std::string top = ScreenRow(1), screen = WholeScreen();
    if (++after > 3) return false;
    if (Contains(top, "Quit/Term ?")) {
      vt::PushKeys("Q");
    } else if (Contains(screen, "Enter [0..6]")) {
      vt::PushKeys("0\r");
    } else {
      result.summaryScreen = screen;
      vt::PushKeys(" ");
    }
    return true;
  });
  // The second loss is set once the first is over; row 1 is looked at
  // while each loss lasts.
  struct Watch : vt::SerialPeer {
    sim::StorePeer* store;
    vt::PortState* port;
    LossRun* result;
    bool second = false;
    void OnByte(uint8_t b, uint64_t t, vt::Sink& out) override { store->OnByte(b, t, out); }
    void AdvanceTo(uint64_t t, vt::Sink& out) override { store->AdvanceTo(t, out); }
    void OnLineBack() override {
      result->statusRows.push_back(ScreenRow(1));
      if (!second) {
        second = true;
        port->vanishAtUs = vt::NowUs() + 20 * kMinuteUs - 45'000'000;
        port->backAtUs = port->vanishAtUs + 10'000'000;
      }
    }
  } watch;
  watch.store = &store;
  watch.port = &port;
  watch.result = &result;
  port.peer = &watch;

  result.exitCode = RunProgram();
  result.file = vt::FileLines("1234_00.spf");
  result.note = vt::FileLines("1234_00.line.txt");
  for (const std::string& line : vt::FileLines("1234_00.html")) result.page += line + "\n";
  result.records = store.store().Accesses();
  result.reopens = port.reopens;
  return result;
}

TEST(RandomLineBack, TheRunGoesOnAfterEachLossAndEveryAccessIsMadeOnce) {
  const LossRun run = RunWithLosses();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.reopens, 2u);
  // While the line was down, row 1 said so and since when.
  ASSERT_EQ(run.statusRows.size(), 2u);
  EXPECT_NE(std::string::npos, run.statusRows[0].find("Line lost 10:2")) << run.statusRows[0];
  EXPECT_NE(std::string::npos, run.statusRows[1].find("Line lost 10:4")) << run.statusRows[1];

  // The store's record: every access but the last went well, and none was
  // asked for twice (a movement command's answer lost is not a reason to
  // send it again): loads and unloads alternate throughout.
  ASSERT_GT(run.records.size(), 100u);
  for (size_t k = 0; k + 1 < run.records.size(); ++k) {
    EXPECT_EQ(run.records[k].result, sim::AccessResult::Ok) << k;
    EXPECT_EQ(run.records[k].relay, k % 2 ? 1904 : 1905) << k;
  }
  // Accesses went on after the second loss (at 40 min) to the end.
  EXPECT_GT(run.records.back().startUs - run.records.front().startUs, 55 * kMinuteUs);

  // The file keeps its form, and the count agrees with the store's record:
  // the plate's fetch and the access the quit came in are not counted.
  ASSERT_GT(run.file.size(), 60u);
  EXPECT_EQ(run.file.back().substr(0, 23), "Mean UnLoad Time:      ");
  int total = -1;
  for (const std::string& line : run.file)
    if (StartsWith(line, "Total Accesses:")) total = std::atoi(line.c_str() + 15);
  const int performed = static_cast<int>(run.records.size());
  EXPECT_TRUE(total == performed - 1 || total == performed - 2) << total << " of " << performed;
  for (const std::string& line : run.file) EXPECT_EQ(std::string::npos, line.find("line was lost")) << line;

  // On the screen after the summary: twice, 45 s and about 10 s (found at
  // the next poll, reopened at the next try a second apart).
  EXPECT_NE(std::string::npos, run.summaryScreen.find("The line was lost 2 times, for 5")) << run.summaryScreen;
  // Beside the result file, the same for its report page, which shows it.
  ASSERT_EQ(run.note.size(), 2u);
  EXPECT_EQ(run.note[0], "Line lost: 2");
  EXPECT_EQ(run.note[1].substr(0, 11), "Down [s]: 5");
  EXPECT_NE(std::string::npos, run.page.find("Line lost</span>The line to the store was lost 2 times"));
}

}  // namespace
