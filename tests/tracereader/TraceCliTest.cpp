// vekton-trace's command line over trace files written with the record
// format into a temporary folder: the exchanges it pairs, its figures, its
// window, the runs of a folder, damaged and half-written files, and what it
// refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TraceRecord.h"
#include "trace/Cli.h"
#include "trace/Window.h"

namespace {

namespace fs = std::filesystem;
using trace::Word;

// 2026-12-08T23:00:00 at +01:00.
constexpr int64_t kStartUs = 1796767200'000000;

// A run's records as the recorder writes them, on the run's clock.
struct Run {
  std::string text;
  uint64_t now = 0;  // microseconds since the run began
  void At(uint64_t us) { now = us; }
  void Add(Word w, const std::string& payload = "") {
    trace::Record r;
    r.wallUs = kStartUs + static_cast<int64_t>(now);
    r.offsetMinutes = 60;
    r.sinceUs = now;
    r.word = w;
    r.payload = payload;
    text += trace::FormatRecord(r);
  }
  void Head(int part, const std::string& operatorName = "Anna") {
    Add(Word::kHead, trace::HeaderPayload({"vekton", "1.0.0", part, "lab-pc", 1, "/dev/ttyUSB0", operatorName}));
  }
  // One exchange: PURGE, the command, the answer whole after answerUs.
  void Exchange(const std::string& command, const std::string& answer, uint64_t answerUs) {
    Add(Word::kPurge);
    Add(Word::kTx, command + "\r");
    const uint64_t sent = now;
    At(sent + answerUs);
    Add(Word::kRx, answer + "\r\n");
  }
};

class TraceCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vekton-trace-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  int Run(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int status = trace::TraceMain(args, o, e, dir_.string());
    out_ = o.str();
    err_ = e.str();
    return status;
  }

  fs::path dir_;
  std::string out_, err_;
};

TEST_F(TraceCliTest, CommandsArePairedWithTheirAnswers) {
  ::Run r;
  r.Head(1);
  r.Add(Word::kOpen, "COM1 /dev/pts/3 9600 8E1 code 0");
  r.Exchange("RD DM200", "00123", 12'345);  // plain
  r.At(100'000);
  r.Add(Word::kPurge);
  r.Add(Word::kTx, "RD 1915\r\r");  // a poll with its empty line; split answer
  r.At(108'000);
  r.Add(Word::kRx, "1");
  r.At(109'000);
  r.Add(Word::kRx, "\r\n");
  r.At(200'000);
  r.Add(Word::kPurge);
  for (const char* b : {"C", "R"}) r.Add(Word::kTx, b);  // typed: timed from its first byte
  r.At(201'000);
  r.Add(Word::kTx, "\r");
  r.At(204'000);
  r.Add(Word::kRx, "CC\r\n");
  r.At(300'000);
  r.Add(Word::kTx, "\r");         // an empty line alone is no command
  r.Add(Word::kTx, "ST 1904\r");  // no answer before the next command
  r.At(352'000);
  r.Add(Word::kTx, "WR DM20 5\r");
  r.At(360'000);
  r.Add(Word::kRx, "E1\r\n");
  r.At(400'000);
  r.Add(Word::kPurge);
  r.Add(Word::kTx, "RD DM0\r");  // PURGE then the next command
  r.Add(Word::kPurge, "3 bytes unread");
  r.Add(Word::kTx, "RD DM1\r");
  r.At(410'000);
  r.Add(Word::kRx, "0\r");  // half an answer, cut by Esc
  r.Add(Word::kEsc, "RD DM1");
  r.At(500'000);
  r.Add(Word::kRx, "late\r\n");  // nobody asked
  r.Add(Word::kTx, "RD <x\r");   // no answer at the end
  const std::string file = Write("vekton-20261208-230000-4711.trace", r.text);

  ASSERT_EQ(Run({"--exchanges", file}), 0) << err_;
  EXPECT_EQ(out_,
            "2026-12-08T23:00:00.000000+01:00\tRD DM200\t00123\t12.3\n"
            "2026-12-08T23:00:00.100000+01:00\tRD 1915\t1\t8.0\n"
            "2026-12-08T23:00:00.200000+01:00\tCR\tCC\t4.0\n"
            "2026-12-08T23:00:00.300000+01:00\tST 1904\tno answer\t-\n"
            "2026-12-08T23:00:00.352000+01:00\tWR DM20 5\tE1\t8.0\n"
            "2026-12-08T23:00:00.400000+01:00\tRD DM0\tno answer\t-\n"
            "2026-12-08T23:00:00.400000+01:00\tRD DM1\t0\t10.0\n"
            "2026-12-08T23:00:00.500000+01:00\tRD \\x3Cx\tno answer\t-\n");
  EXPECT_EQ(err_, "");

  // Without an option the records are printed as the file has them.
  ASSERT_EQ(Run({file}), 0);
  EXPECT_EQ(out_, r.text);
}

TEST_F(TraceCliTest, StatsOfAKnownSet) {
  ::Run r;
  r.Head(1);
  // 100 answers of 1..100 ms in a shuffled order: median 50.5, p99 99.
  for (int i = 0; i < 100; ++i) {
    r.At(static_cast<uint64_t>(i) * 1'000'000);
    r.Exchange("RD DM200",
               i % 10 == 3 ? "E0"
               : i == 7    ? "E4"
                           : "00001",
               static_cast<uint64_t>((i * 37) % 100 + 1) * 1000);
  }
  r.At(200'000'000);
  r.Add(Word::kTx, "RD DM200\r");
  r.At(201'000'000);
  r.Add(Word::kLost, "COM1 code 20007");
  r.At(203'500'000);
  r.Add(Word::kBack, "COM1");
  r.At(210'000'000);
  r.Add(Word::kLost, "COM1 code 20007");
  r.At(220'000'000);
  r.Add(Word::kChoice, "1 Direct commands");  // never back: counts up to here
  Write("vekton-20261208-230000-4711.trace", r.text);

  ASSERT_EQ(Run({"--stats"}), 0) << err_;
  EXPECT_EQ(out_,
            "Exchanges:          101\n"
            "Answer time [ms]:   min 1.0  median 50.5  p99 99.0  max 100.0\n"
            "No answer:          1\n"
            "Error answers:      E0 10  E4 1\n"
            "Line losses:        2, 12.500 s in all, longest 10.000 s\n");
}

TEST_F(TraceCliTest, TheWindowCutsRecordsAndExchanges) {
  ::Run r;
  r.Head(1);
  // An exchange every ten minutes from 23:00 to 01:50, past midnight.
  for (int i = 0; i < 18; ++i) {
    r.At(static_cast<uint64_t>(i) * 600'000'000);
    r.Exchange("RD " + std::to_string(i), "0", 5000);
  }
  const std::string file = Write("vekton-20261208-230000-4711.trace", r.text);
  auto commands = [&] {
    std::string c;
    std::istringstream in(out_);
    for (std::string line; std::getline(in, line);)
      c += line.substr(line.find('\t') + 1, line.find('\t', 33) - 33) + ",";
    return c;
  };
  ASSERT_EQ(Run({"--exchanges", "--since", "23:50", "--until", "00:20", file}), 0) << err_;
  EXPECT_EQ(commands(), "RD 5,RD 6,RD 7,");
  // Local time of the records' own offset, UTC with Z, an offset of its own.
  ASSERT_EQ(Run({"--exchanges", "--since", "2026-12-09T01:30", "--until", "2026-12-09T00:40:00Z", file}), 0);
  EXPECT_EQ(commands(), "RD 15,");
  ASSERT_EQ(Run({"--exchanges", "--since", "2026-12-08T17:10:00.5-05:00", "--until", "23:30", file}), 0);
  EXPECT_EQ(commands(), "RD 2,");
  // The same time of day on both sides is a whole day; records cut alike.
  ASSERT_EQ(Run({"--exchanges", "--since", "23:00:00", "--until", "23:00:00", file}), 0);
  EXPECT_EQ(commands(),
            "RD 0,RD 1,RD 2,RD 3,RD 4,RD 5,RD 6,RD 7,RD 8,RD 9,RD 10,RD 11,RD 12,RD 13,RD 14,RD 15,RD 16,RD 17,");
  ASSERT_EQ(Run({"--since", "01:50", file}), 0);
  EXPECT_EQ(out_.substr(0, 45), "2026-12-09T01:50:00.000000+01:00 10200.000000");
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 3);

  trace::TimeBound b;
  for (const char* bad : {"24:00", "23:1", "23:10:60", "2026-12-08", "2026-12-08T23:10+1", "23:10:05.1234567", "x"})
    EXPECT_FALSE(trace::ParseTimeBound(bad, b)) << bad;
}

TEST_F(TraceCliTest, TheNewestRunAndTheFoldersList) {
  ::Run older;
  older.Head(1, "Anna Smith");
  older.Exchange("CR", "CC", 3000);
  Write("vekton-20261208-230000-4711.trace", older.text);
  ::Run part1, part2;
  part1.Head(1, "Bo");
  part1.Exchange("RD DM200", "1", 4000);
  part2.At(7'200'000'000);
  part2.Head(2, "Bo");
  part2.Exchange("RD DM201", "2", 4000);
  part2.At(7'300'000'000);
  part2.Add(Word::kClose, "COM1");
  Write("vekton-20261209-010203-99.2.trace", part2.text);
  Write("vekton-20261209-010203-99.trace", part1.text);
  Write("notes.txt", "not a trace\n");

  ASSERT_EQ(Run({}), 0) << err_;
  EXPECT_EQ(out_, part1.text + part2.text);
  // Given as a shell's pattern sorts them, a run's parts still read in order.
  ASSERT_EQ(Run({"--exchanges", (dir_ / "vekton-20261209-010203-99.2.trace").string(),
                 (dir_ / "vekton-20261209-010203-99.trace").string()}),
            0);
  EXPECT_EQ(out_.substr(33, 8), "RD DM200");

  ASSERT_EQ(Run({"--list"}), 0) << err_;
  const std::string size2 = std::to_string((part1.text.size() + part2.text.size() + 999) / 1000);
  EXPECT_EQ(out_,
            "Start                End                  Port            Operator    Size  File\n"
            "2026-12-08 23:00:00  2026-12-08 23:00:00  1 /dev/ttyUSB0  Anna Smith  1 kB  "
            "vekton-20261208-230000-4711.trace\n"
            "2026-12-08 23:00:00  2026-12-09 01:01:40  1 /dev/ttyUSB0  Bo          " +
                size2 +
                " kB  "
                "vekton-20261209-010203-99.trace\n");
}

TEST_F(TraceCliTest, DamagedAndHalfWrittenFiles) {
  ::Run r;
  r.Head(1);
  r.Exchange("RD DM200", "00123", 12'000);
  const std::string good = r.text;
  std::string text = good;
  text.insert(good.find('\n') + 1, "2026-12-08T23:00:00.000000+01:00 0.000000 TX A\tB\n");
  // A line cut short by a kill: its LF never came.
  const std::string file = Write("vekton-20261208-230000-4711.trace", text + "2026-12-08T23:00:0");
  EXPECT_EQ(Run({file}), 1);
  EXPECT_EQ(out_, good);
  EXPECT_EQ(err_, "vekton-trace: " + file + ":2: not a record: a control byte or a byte above 127 in the record\n");

  Write("vekton-20261208-230000-4711.trace", good + "2026-12-08T23:00:01.000000+01:00 1.000000 TX RD");
  EXPECT_EQ(Run({"--exchanges", file}), 0) << err_;
  EXPECT_EQ(out_, "2026-12-08T23:00:00.000000+01:00\tRD DM200\t00123\t12.0\n");

  EXPECT_EQ(Run({(dir_ / "vekton-20261208-230000-1.trace").string()}), 1);
  EXPECT_NE(err_.find("vekton-20261208-230000-1.trace: cannot read: "), std::string::npos) << err_;
}

TEST_F(TraceCliTest, UsageErrorsAndThePcapngFileThatExists) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"--since"},
                                             {"--since", "25:00"},
                                             {"--until", "1", "x.trace"},
                                             {"--list", "x.trace"},
                                             {"--list", "--stats"},
                                             {"--force"},
                                             {"--pcapng", "a.pcapng", "--pcapng", "b.pcapng"},
                                             {"--pcapng", "vekton-20261208-230000-4711.trace"}}) {
    EXPECT_EQ(Run(args), 2) << args[0];
    EXPECT_NE(err_.find("(see --help)"), std::string::npos) << err_;
  }
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_, std::string("vekton-trace ") + VEKTON_VERSION + "\n");

  ::Run r;
  r.Head(1);
  const std::string file = Write("vekton-20261208-230000-4711.trace", r.text);
  const std::string pcap = Write("out.pcapng", "kept");
  EXPECT_EQ(Run({"--pcapng", pcap, file}), 1);
  EXPECT_NE(err_.find("exists already"), std::string::npos);
  std::ifstream in(pcap);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");
  EXPECT_EQ(Run({"--pcapng", (dir_ / "no" / "such.pcapng").string(), file}), 1);
  EXPECT_NE(err_.find("cannot write"), std::string::npos);
  EXPECT_EQ(Run({"--pcapng", pcap, "--force", file}), 0) << err_;
}

}  // namespace
