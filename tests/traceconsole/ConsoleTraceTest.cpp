// The console on the line's trace: a whole run against the simulated store
// leaves its events in order and every byte it wrote, an exchange ended by
// Esc is noted once, and a trace that cannot be written is named on the main
// menu's last line without moving anything else on the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "bench/InProcessRun.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/ScreenModel.h"
#include "platform/Serial.h"
#include "platform/Trace.h"
#include "platform/TraceRecord.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"

namespace {

namespace fs = std::filesystem;

// A folder of the test's own under the system's temporary one, gone after.
class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / (std::string("vekton-traceconsole-") + info->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Every record of every trace file in folder, the files in name order.
std::vector<trace::Record> ReadTrace(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".trace") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<trace::Record> records;
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      trace::Record r;
      std::string why;
      EXPECT_TRUE(trace::ParseRecord(line, r, &why)) << f << ": " << why << ": " << line;
      records.push_back(r);
    }
  }
  return records;
}

// The events the program adds (not the serial layer's), as "WORD payload".
std::vector<std::string> ProgramEvents(const std::vector<trace::Record>& records) {
  std::vector<std::string> events;
  for (const trace::Record& r : records) {
    switch (r.word) {
      case trace::Word::kHead:
      case trace::Word::kOpen:
      case trace::Word::kChoice:
      case trace::Word::kTest:
      case trace::Word::kResult:
      case trace::Word::kEsc:
        events.push_back(std::string(trace::WordName(r.word)) + " " + r.payload);
        break;
      default:
        break;
    }
  }
  return events;
}

std::string Screen() {
  std::string s;
  for (int y = 1; y <= ScreenModel::kRows; ++y) s += gScreen.Row(y) + "\n";
  return s;
}

class ConsoleTraceTest : public ::testing::Test {
 protected:
  void TearDown() override { TraceStop(); }
};

TEST_F(ConsoleTraceTest, RunLeavesItsEventsInOrderAndEveryByteItWrote) {
  TempFolder folder;
  sim::StorePeer store;
  ScriptRandomAccessRun(store, "5", 2 * 60'000'000ull, nullptr);
  // With limits in the folder the run's judgement follows its file's close.
  vt::PutFile("limits.toml", "[run]\nmin_accesses = 1\n");
  TraceSetup setup;
  setup.folder = folder.path().string();
  ASSERT_TRUE(TraceStart(setup));
  ASSERT_EQ(RunProgram(), 0);
  TraceStop();

  const std::vector<trace::Record> records = ReadTrace(folder.path());
  ASSERT_FALSE(records.empty());
  trace::Header head;
  ASSERT_EQ(records.front().word, trace::Word::kHead);
  ASSERT_TRUE(trace::ParseHeader(records.front().payload, head)) << records.front().payload;
  EXPECT_EQ(head.port, 1);
  EXPECT_EQ(head.operatorName, "Default User");

  // Start-up, choice 7 in its bracket, the test with its file, choice 0.
  const std::string open = "OPEN COM1 " + SerialPortLine(1) + " 9600 8E1 code 0";
  const std::string file = std::to_string(sim::DefaultProfile().serial) + "_00.spf";
  std::vector<std::string> events = ProgramEvents(records);
  // An Esc that ends an exchange is the store's timing's business here.
  std::erase_if(events, [](const std::string& e) { return e.rfind("ESC ", 0) == 0; });
  EXPECT_EQ(events, (std::vector<std::string>{
                        "HEAD " + records.front().payload,
                        open,
                        "CHOICE 7 Test Sequence Random Access",
                        open,
                        "TEST start Test Sequence Random Access",
                        "RESULT open " + file,
                        "RESULT close " + file,
                        "RESULT verdict " + file + " Acceptance: accepted (2 of 2 criteria)",
                        "TEST end Test Sequence Random Access",
                        "CHOICE 0 Quit",
                        open,
                    }));

  std::string tx;
  for (const trace::Record& r : records)
    if (r.word == trace::Word::kTx) tx += r.payload;
  EXPECT_EQ(tx, vt::WrittenText(1));
  EXPECT_GT(tx.size(), 1000u);
  // Records in the order they were made.
  for (size_t i = 1; i < records.size(); ++i) ASSERT_LE(records[i - 1].sinceUs, records[i].sinceUs) << i;
}

TEST_F(ConsoleTraceTest, EscNotesTheExchangeItEndedOnlyOnce) {
  TempFolder folder;
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  // A store that answers every line; armed, the operator presses Esc as
  // the line's CR arrives, while the answer is on its way.
  bool escOnCr = false;
  vt::ScriptedPeer peer;
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (escOnCr) vt::PushKeys("\x1b");
    r = vt::ScriptedPeer::Rule{line == "RD 1915" ? "1" : "00001"};
    return true;
  });
  vt::AttachPort(1, &peer);
  TraceSetup setup;
  setup.folder = folder.path().string();
  ASSERT_TRUE(TraceStart(setup));
  TraceHeader("Anna", 1);
  ASSERT_EQ(KvOpenPort(1), 0);

  ShortStr answer;
  KvExchange(1, "RD DM1", answer);  // answered: no note
  EXPECT_EQ(answer, "00001");
  vt::PushKeys("\x1b");
  KvExchange(1, "RD 1915", answer);  // Esc before the first byte went
  KvExchange(1, "RD DM1", answer);   // Esc already taken: skipped, no note
  EXPECT_EQ(peer.Lines().size(), 1u);
  ResetKeys();
  escOnCr = true;
  KvExchange(1, "RD DM1", answer);  // the answer dropped
  EXPECT_EQ(answer, "");
  EXPECT_EQ(peer.Lines().size(), 2u);
  TraceStop();

  std::vector<std::string> esc;
  for (const std::string& e : ProgramEvents(ReadTrace(folder.path())))
    if (e.rfind("ESC ", 0) == 0) esc.push_back(e);
  EXPECT_EQ(esc, (std::vector<std::string>{"ESC RD 1915", "ESC RD DM1"}));
}

TEST_F(ConsoleTraceTest, EveryPortOpeningIsNotedWithItsOutcome) {
  TempFolder folder;
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  vt::AttachPort(1, nullptr);
  vt::AttachPort(2, nullptr).failSetSettings = true;
  TraceSetup setup;
  setup.folder = folder.path().string();
  ASSERT_TRUE(TraceStart(setup));
  TraceHeader("Anna", 1);

  // The keys that take the two failures off the screen.
  int keys = 0;
  vt::SetKeyFeeder([&] {
    vt::PushKeys("x");
    return ++keys <= 2;
  });
  std::vector<std::string> want;
  for (int port : {1, 2, 5, 200}) {
    const int code = ComOpen(port, 9600, 'e', 8, 1);
    want.push_back("OPEN COM" + std::to_string(port) + " " + SerialPortLine(port) + " 9600 8E1 code " +
                   std::to_string(code));
    EXPECT_EQ(code == 0, port == 1) << port;
    ComClose(port);
  }
  // Odd parity and two stop bits as the line is set.
  ComOpen(1, 19200, 'O', 7, 2);
  want.push_back("OPEN COM1 " + SerialPortLine(1) + " 19200 7O2 code 0");
  TraceStop();
  EXPECT_EQ(keys, 2);

  std::vector<std::string> events = ProgramEvents(ReadTrace(folder.path()));
  ASSERT_FALSE(events.empty());
  events.erase(events.begin());  // HEAD
  EXPECT_EQ(events, want);
}

// The menu as drawn with the trace off, and as drawn once the trace could
// not start: every row the same but the last, which names the failure.
TEST_F(ConsoleTraceTest, StoppedTraceIsNamedOnTheMenusLastLineAlone) {
  TempFolder folder;
  const fs::path plain = folder.path() / std::string(40, 'f');
  std::ofstream(plain) << "a file, not a folder\n";

  std::vector<std::string> menus[2];
  int cursor[2][2] = {};
  for (int pass = 0; pass < 2; ++pass) {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    vt::ScriptedPeer peer;
    peer.Otherwise({"OK"});
    peer.On("CR", "CC");
    peer.On("CQ", "CF");
    vt::AttachPort(1, &peer);
    TraceSetup setup;
    setup.on = pass == 1;
    setup.folder = (plain / "trace").string();
    EXPECT_EQ(TraceStart(setup), pass == 0);
    const std::vector<std::string> steps = {"1\r", "\r", "9\r", "0\r"};
    size_t next = 0;
    vt::SetKeyFeeder([&] {
      if (next >= 2) {
        menus[pass].push_back(Screen());
        cursor[pass][0] = WhereX();
        cursor[pass][1] = WhereY();
      }
      if (next >= steps.size()) return false;
      vt::PushKeys(steps[next++]);
      return true;
    });
    ASSERT_EQ(RunProgram(), 0);
  }

  std::string file;
  int code = 0;
  ASSERT_TRUE(TraceStopped(file, code));
  EXPECT_NE(code, 0);
  EXPECT_NE(file.find(std::string(40, 'f')), std::string::npos) << file;
  // The banner's window is columns 10 to 70; its last column would scroll it.
  // The path loses its start, so that the code shows.
  const std::string tail = " E" + std::to_string(code);
  const std::string notice = "Trace stopped: ..." + file.substr(file.size() - (60 - 18 - tail.size())) + tail;
  ASSERT_EQ(notice.size(), 60u);
  ASSERT_EQ(menus[0].size(), 2u);
  ASSERT_EQ(menus[1].size(), 2u);
  for (size_t m = 0; m < 2; ++m) {
    const std::string& off = menus[0][m];
    const std::string& stopped = menus[1][m];
    const size_t lastRow = 24 * 81;
    EXPECT_EQ(stopped.substr(0, lastRow), off.substr(0, lastRow)) << "menu " << m << "\n" << stopped;
    EXPECT_EQ(off.substr(lastRow), std::string(80, ' ') + "\n");
    EXPECT_EQ(stopped.substr(lastRow), std::string(9, ' ') + notice + std::string(11, ' ') + "\n");
  }
  EXPECT_EQ(cursor[1][0], cursor[0][0]);
  EXPECT_EQ(cursor[1][1], cursor[0][1]);
}

}  // namespace
