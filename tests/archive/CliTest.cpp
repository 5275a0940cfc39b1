// vekton-archive's command line: result files on the virtual platform, the
// archive on the real disk; and the program itself, twice at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "ArchiveSupport.h"
#include "archive/Archive.h"
#include "archive/Cli.h"

namespace {

using namespace archive_test;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Archive(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = archive::ArchiveMain(args, out, err);
  return {status, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Cli, DamagedFileAmongGoodOnesIsNamedTheOthersGoIn) {
  const std::string db = DbPath();
  vt::PutFile("1234_00.spf", TestFiles().a);
  vt::PutFile("broken.spf", TestFiles().a.substr(0, 100) + "\x1b[2J garbage\n");
  vt::PutFile("5678_00.spf", TestFiles().other);
  const Outcome o = Archive({db, "add", "1234_00.spf", "broken.spf", "5678_00.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.out, "added: 1234_00.spf (SNr. 1234, start 2026-12-08 10:00)\n")) << o.out;
  EXPECT_TRUE(Has(o.out, "added: 5678_00.spf (SNr. 5678, start 2026-12-10 10:00)\n")) << o.out;
  EXPECT_TRUE(Has(o.out, "2 added, 0 replaced, 0 already there, 1 skipped\n")) << o.out;
  EXPECT_TRUE(Has(o.err, "vekton-archive: broken.spf:3: not a result file: ")) << o.err;
  EXPECT_FALSE(Has(o.err, "\x1b"));

  const Outcome runs = Archive({db, "runs", "5678"});
  EXPECT_EQ(runs.status, 0);
  EXPECT_TRUE(Has(runs.out, "5678_00.spf")) << runs.out;
  EXPECT_FALSE(Has(runs.out, "1234_00.spf")) << runs.out;
}

TEST(Cli, ReadingMissingArchiveMakesNothing) {
  const std::string db = DbPath();
  for (const char* command : {"runs", "stores", "events"}) {
    const Outcome o = Archive({db, command});
    EXPECT_EQ(o.status, 1) << command;
    EXPECT_EQ(o.err, "vekton-archive: " + db + ": no archive there\n");
  }
  EXPECT_EQ(Archive({db, "csv", "-o", "out.csv"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(db));
  EXPECT_FALSE(vt::FileExists("out.csv"));
}

TEST(Cli, UsageErrorsRefusedBeforeAnythingIsTouched) {
  const std::string db = DbPath();
  const std::vector<std::vector<std::string>> bad = {
      {db, "event", "1234", "2026-02-29", "Belt"},             // no such day
      {db, "event", "1234", "2026-12-08 24:00", "Belt"},       // no such time
      {db, "event", "12a4", "2026-12-08", "Belt"},             // not a serial number
      {db, "event", "1234", "2026-12-08", "Belt\x1b[31m"},     // a control character
      {db, "event", "1234", "2026-12-08", "\xC3"},             // cut UTF-8
      {db, "event", "1234", "2026-12-08", std::string(201, 'x')},
      {db, "page"},                                            // no -o
      {db, "csv", "-o", db},                                   // over the archive
      {db, "runs", "--note"},
      {db, "stores", "--share", "0,1"},
      {db, "backup"},
  };
  for (const auto& args : bad) {
    const Outcome o = Archive(args);
    EXPECT_EQ(o.status, 2) << args[1] << " " << (args.size() > 2 ? args[2] : "") << ": " << o.err;
  }
  EXPECT_FALSE(std::filesystem::exists(db));
  const Outcome ok = Archive({db, "event", "1234", "2026-12-08", std::string(200, 'x'), "--note"});
  EXPECT_EQ(ok.status, 0) << ok.err;
}

TEST(Cli, EventsByStoreAndDateAndCountedBeforeEachRunInTheCsv) {
  const std::string db = DbPath();
  vt::PutFile("a.spf", TestFiles().a);
  vt::PutFile("b.spf", TestFiles().b);
  vt::PutFile("b.line.txt", "Line lost: 1\nDown [s]: 12\n");
  ASSERT_EQ(Archive({db, "add", "b.spf", "a.spf"}).status, 0);
  // A day alone counts from its midnight: the repair of the 9th is before
  // that day's run.
  ASSERT_EQ(Archive({db, "event", "5678", "2026-12-01", "Z belt"}).status, 0);
  ASSERT_EQ(Archive({db, "event", "1234", "2026-12-09", "Greifer getauscht \xE2\x80\x93 neu"}).status, 0);
  ASSERT_EQ(Archive({db, "event", "1234", "2026-12-01 08:00", "Firmware", "--note"}).status, 0);
  const Outcome events = Archive({db, "events"});
  EXPECT_TRUE(Has(events.out, "2026-12-01 08:00  1234  note       Firmware\n"
                              "2026-12-09        1234  mechanics  Greifer getauscht \xE2\x80\x93 neu\n"
                              "2026-12-01        5678  mechanics  Z belt\n")) << events.out;
  const Outcome o = Archive({db, "csv", "-o", "all.csv"});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> lines = vt::FileLines("all.csv");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].size() > 3 && Has(lines[0], ",line_losses,line_down_s,events_before\r"));
  EXPECT_EQ(lines[1].rfind("a.spf,1234,2026-12-08,", 0), 0u);  // by start, not by import
  EXPECT_EQ(lines[1].substr(lines[1].size() - 5), ",,,1\r");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 8), ",1,12,2\r");

  const Outcome twice = Archive({db, "csv", "-o", "all.csv"});
  EXPECT_EQ(twice.status, 1);
  EXPECT_TRUE(Has(twice.err, "all.csv exists already"));
  EXPECT_EQ(Archive({db, "csv", "-o", "all.csv", "--force", "--store", "9999"}).status, 1);  // no such store
  EXPECT_EQ(Archive({db, "csv", "-o", "all.csv", "--force", "--store", "1234"}).status, 0);
}

// Two imports at once into one new archive, each of 300 runs of its own:
// each waits for the other's transactions, neither fails, every run is in
// once.
TEST(Cli, TwoProgramsImportingAtOnceBothSucceed) {
  const std::filesystem::path folder = Scratch() / "two";
  std::filesystem::create_directories(folder);
  const std::string db = DbPath();
  std::string lists[2];
  const std::string& base = TestFiles().a;
  const size_t name = base.find("Default User");
  ASSERT_NE(name, std::string::npos);
  for (int i = 0; i < 600; ++i) {
    // Another operator name of the same width in the first header: another run.
    std::string bytes = base;
    char who[13];
    std::snprintf(who, sizeof who, "T%011d", i);
    bytes.replace(name, 12, who);
    const std::filesystem::path file = folder / (std::string(who) + ".spf");
    WriteRealFile(file, bytes);
    lists[i % 2] += " '" + file.string() + "'";
  }
  int status[2] = {-1, -1};
  std::thread second([&] {
    status[1] = std::system(("'" VEKTON_ARCHIVE_PROGRAM "' '" + db + "' add" + lists[1] + " >/dev/null").c_str());
  });
  status[0] = std::system(("'" VEKTON_ARCHIVE_PROGRAM "' '" + db + "' add" + lists[0] + " >/dev/null").c_str());
  second.join();
  EXPECT_EQ(status[0], 0);
  EXPECT_EQ(status[1], 0);
  std::string error;
  auto a = archive::Archive::Open(db, false, error);
  ASSERT_TRUE(a) << error;
  const std::vector<archive::StoredRun> runs = a->Runs();
  EXPECT_EQ(runs.size(), 600u);
  std::vector<std::string> names;
  for (const auto& r : runs) names.push_back(r.figures.file);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
}

}  // namespace
