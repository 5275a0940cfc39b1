// The recorder on the virtual line: what the host link sends and receives is
// in the trace as records, the folder stays within its bound, and a trace
// that cannot be written stops without touching the exchange.
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "KV_Lib3/KV_Lib3.h"
#include "platform/Trace.h"
#include "tests/support/Fixture.h"

namespace fs = std::filesystem;

namespace {

class RecorderTest : public VirtualTest {
 protected:
  void SetUp() override {
    VirtualTest::SetUp();
    dir = fs::path(::testing::TempDir()) / ("recorder-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    peer.On("RD DM200", "00123");
    peer.On("RD 1915", vt::ScriptedPeer::Rule{"1", false, false, 2000, 1, 30000});  // split answer
  }
  void TearDown() override { TraceStop(); }

  // The records of a file, as (word, payload).
  static std::vector<std::pair<std::string, std::string>> Records(const fs::path& file) {
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      trace::Record r;
      EXPECT_TRUE(trace::ParseRecord(line, r)) << line;
      out.emplace_back(trace::WordName(r.word), r.payload);
    }
    return out;
  }
  std::vector<fs::path> Files() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  fs::path dir;
  ShortStr answer;
};

TEST_F(RecorderTest, TheExchangeIsInTheTraceAsItWent) {
  TraceSetup setup;
  setup.folder = dir.string();
  ASSERT_TRUE(TraceStart(setup));
  TraceHeader("Anna Smith", 1);
  OpenPort();
  KvReadDm(1, 200, answer);
  KvReadRelay(1, 1915, answer);
  EXPECT_EQ("1", answer);
  ComClose(1);
  const std::string path = TraceFilePath();
  EXPECT_EQ(fs::path(path).filename().string(), "vekton-20261208-100000-4711.trace");
  TraceStop();

  using R = std::vector<std::pair<std::string, std::string>>;
  const R records = Records(path);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].first, "HEAD");
  EXPECT_EQ(records[0].second, "vekton " VEKTON_VERSION " part=1 host=virtual port=1 line=virtual COM1 operator=Anna Smith");
  const R rest(records.begin() + 1, records.end());
  // The port's opening is the program's event; the split answer comes in
  // two pieces: two RX records.
  EXPECT_EQ(rest, (R{{"OPEN", "COM1 virtual COM1 9600 8E1 code 0"},
                     {"PURGE", ""}, {"TX", "RD DM200\r"}, {"RX", "00123\r\n"},
                     {"PURGE", ""}, {"TX", "RD 1915\r"}, {"RX", "1"}, {"RX", "\r\n"}, {"CLOSE", "COM1"}}));
}

TEST_F(RecorderTest, TheFolderStaysWithinItsBoundAndKeepsTheNewest) {
  TraceSetup setup;
  setup.folder = dir.string();
  setup.maxBytes = 64 * 1024;  // files of 8 kB
  ASSERT_TRUE(TraceStart(setup));
  TraceHeader("Anna", 1);
  OpenPort();
  for (int i = 0; i < 3000; ++i) KvReadDm(1, 200, answer);
  TraceEvent(trace::Word::kTest, "end last");
  const fs::path current = TraceFilePath();
  TraceStop();

  uint64_t total = 0;
  int newestPart = 0;
  for (const fs::path& f : Files()) {
    total += fs::file_size(f);
    std::string key;
    int part = 0;
    ASSERT_TRUE(trace::ParseFileName(f.filename().string(), key, part));
    newestPart = std::max(newestPart, part);
    const auto records = Records(f);
    EXPECT_EQ(records.front().first, "HEAD");
    EXPECT_NE(records.front().second.find("part=" + std::to_string(part) + " "), std::string::npos);
  }
  EXPECT_LE(total, setup.maxBytes);
  EXPECT_GT(total, setup.maxBytes / 2);
  EXPECT_GT(newestPart, 20);
  EXPECT_FALSE(fs::exists(dir / "vekton-20261208-100000-4711.trace"));  // the oldest went
  EXPECT_EQ(Records(current).back(), (std::pair<std::string, std::string>{"TEST", "end last"}));
}

TEST_F(RecorderTest, ATraceThatCannotBeWrittenStopsAndTheLineGoesOn) {
  TraceSetup setup;
  setup.folder = dir.string();
  ASSERT_TRUE(TraceStart(setup));
  TraceHeader("Anna", 1);
  OpenPort();
  KvReadDm(1, 200, answer);
  vt::FailTraceWritesAfter(30, ENOSPC);  // the disk fills in the middle of a record
  const uint64_t t0 = vt::NowUs();
  for (int i = 0; i < 5; ++i) {
    KvReadDm(1, 200, answer);
    EXPECT_EQ("00123", answer);
  }
  EXPECT_EQ(vt::NowUs() - t0, 5 * 53000u);  // the exchange's timing is untouched
  std::string file;
  int code = 0;
  ASSERT_TRUE(TraceStopped(file, code));
  EXPECT_EQ(code, ENOSPC);
  EXPECT_EQ(fs::path(file).filename().string(), "vekton-20261208-100000-4711.trace");
  EXPECT_FALSE(TraceRecording());

  // A folder that cannot be made: no file, and the reason.
  std::ofstream(dir / "plain") << "x";
  setup.folder = (dir / "plain" / "trace").string();
  EXPECT_FALSE(TraceStart(setup));
  ASSERT_TRUE(TraceStopped(file, code));
  EXPECT_EQ(file, setup.folder);
  EXPECT_NE(code, 0);
}

}  // namespace
