// The archive's database: a run is in it once whatever it was called, a run
// imported while it was still going grows in place, the line note comes
// along, and archives of the first schema and of other programs are told
// apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ArchiveSupport.h"
#include "archive/Archive.h"
#include "report/Figures.h"

namespace {

using namespace archive;
using namespace archive_test;

std::unique_ptr<Archive> Make(const std::string& path) {
  std::string error;
  std::unique_ptr<Archive> a = Archive::Open(path, true, error);
  EXPECT_TRUE(a) << error;
  return a;
}

TEST(Identity, SameFileOrCopyIsOneRunAndSameHeaderOtherContentIsAnother) {
  auto a = Make(DbPath());
  vt::PutFile("1234_00.spf", TestFiles().a);
  vt::PutFile("copy of it.spf", TestFiles().a);
  const AddResult first = a->AddFile("1234_00.spf");
  ASSERT_EQ(first.outcome, AddOutcome::kAdded) << first.message;
  EXPECT_EQ(first.serial, 1234);
  EXPECT_EQ(a->AddFile("1234_00.spf").outcome, AddOutcome::kAlreadyThere);
  const AddResult copy = a->AddFile("copy of it.spf");
  EXPECT_EQ(copy.outcome, AddOutcome::kAlreadyThere);
  EXPECT_EQ(copy.runId, first.runId);

  // The same first header over another run's lines: not the same run.
  std::string other = TestFiles().a;
  const size_t header = other.find("_____", 10);
  other.replace(header, std::string::npos, TestFiles().b.substr(TestFiles().b.find("_____", 10)));
  ASSERT_NE(other, TestFiles().a);
  EXPECT_EQ(a->AddRun(other, report::ReadResultFile(other, "other.spf").run).outcome, AddOutcome::kAdded);

  const std::vector<StoredRun> runs = a->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].figures.file, "1234_00.spf");  // the name it came by first
  EXPECT_EQ(runs[0].bytes, static_cast<int64_t>(TestFiles().a.size()));
  std::string back;
  ASSERT_TRUE(a->RunBytes(first.runId, back));
  EXPECT_EQ(back, TestFiles().a);
}

TEST(Identity, RunCutShortIsKeptThenReplacedByItsWholeSelf) {
  auto a = Make(DbPath());
  const std::string& whole = TestFiles().a;
  const std::string cut = whole.substr(0, whole.size() / 2);  // mid-line, as a killed console leaves it
  vt::PutFile("running.spf", cut);
  vt::PutFile("done.spf", whole);
  const AddResult shortOne = a->AddFile("running.spf");
  ASSERT_EQ(shortOne.outcome, AddOutcome::kAdded) << shortOne.message;
  ASSERT_EQ(a->Runs().size(), 1u);
  EXPECT_FALSE(a->Runs()[0].figures.complete);
  EXPECT_EQ(report::Marks(a->Runs()[0].figures).rfind("incomplete", 0), 0u);

  const AddResult grown = a->AddFile("done.spf");
  EXPECT_EQ(grown.outcome, AddOutcome::kReplaced);
  EXPECT_EQ(grown.runId, shortOne.runId);
  const AddResult again = a->AddFile("running.spf");
  EXPECT_EQ(again.outcome, AddOutcome::kArchiveHasMore);
  EXPECT_EQ(again.runId, shortOne.runId);

  const std::vector<StoredRun> runs = a->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].figures.complete);
  EXPECT_FALSE(runs[0].readyBins.empty());
  std::string back;
  ASSERT_TRUE(a->RunBytes(runs[0].id, back));
  EXPECT_EQ(back, whole);
}

TEST(Import, LineNoteTakenAlongAndNotResultFileNamedWithItsLine) {
  auto a = Make(DbPath());
  vt::PutFile("1234_00.spf", TestFiles().a);
  vt::PutFile("1234_00.line.txt", "Line lost: 2\nDown [s]: 75\n");
  ASSERT_EQ(a->AddFile("1234_00.spf").outcome, AddOutcome::kAdded);
  EXPECT_EQ(a->Runs()[0].figures.lineLosses, 2);
  EXPECT_EQ(a->Runs()[0].figures.lineDownSeconds, 75);

  vt::PutFile("notes.spf", "shopping list\n");
  const AddResult r = a->AddFile("notes.spf");
  EXPECT_EQ(r.outcome, AddOutcome::kNotResultFile);
  EXPECT_EQ(r.line, 1);
  EXPECT_EQ(r.message.rfind("not a result file: ", 0), 0u);
  EXPECT_EQ(a->AddFile("missing.spf").outcome, AddOutcome::kNotResultFile);
  EXPECT_EQ(a->Runs().size(), 1u);
}

// The first schema, as version 1 of the program made it: no line note
// columns, no kind of event. The test below makes the fixture from an
// archive of today's schema; run it with --gtest_also_run_disabled_tests
// to make it again.
constexpr const char* kSchema1 = R"(
PRAGMA page_size=1024;
PRAGMA application_id=1449869682;
CREATE TABLE runs(
  id INTEGER PRIMARY KEY,
  serial INTEGER NOT NULL,
  start_text TEXT, start_s INTEGER, end_text TEXT,
  seconds INTEGER, climate_lines INTEGER NOT NULL,
  firmware BLOB NOT NULL, operator BLOB NOT NULL,
  complete INTEGER NOT NULL, incomplete_reason TEXT NOT NULL,
  total_accesses INTEGER, car_pos_errors INTEGER,
  uncounted INTEGER NOT NULL, problems INTEGER NOT NULL,
  mean REAL, max REAL, min REAL, load_mean REAL, unload_mean REAL,
  ready_bins BLOB NOT NULL,
  file BLOB NOT NULL, imported_at TEXT NOT NULL, size INTEGER NOT NULL,
  key INTEGER NOT NULL, bytes BLOB NOT NULL);
CREATE INDEX runs_by_store ON runs(serial, start_s);
CREATE INDEX runs_by_key ON runs(key);
CREATE TABLE events(
  id INTEGER PRIMARY KEY,
  serial INTEGER NOT NULL,
  date_text TEXT NOT NULL, date_s INTEGER NOT NULL, day_only INTEGER NOT NULL,
  text TEXT NOT NULL);
CREATE INDEX events_by_store ON events(serial, date_s);
PRAGMA user_version=1;
)";

const std::string kFixture = std::string(VEKTON_ARCHIVE_TEST_DATA) + "/schema1.db";

TEST(Schema, DISABLED_MakeSchema1Fixture) {
  const std::string now = DbPath();
  {
    auto a = Make(now);
    vt::PutFile("1234_00.spf", TestFiles().a);
    vt::PutFile("5678_00.spf", TestFiles().other.substr(0, TestFiles().other.size() / 3));
    ASSERT_EQ(a->AddFile("1234_00.spf").outcome, AddOutcome::kAdded);
    ASSERT_EQ(a->AddFile("5678_00.spf").outcome, AddOutcome::kAdded);
    Event e;
    e.serial = 1234;
    e.when = a->Runs()[0].figures.start;
    e.when.day = 1;
    e.text = "Greifer getauscht \xE2\x80\x93 neu geteacht";
    std::string error;
    ASSERT_TRUE(a->AddEvent(e, error));
  }
  const std::filesystem::path sql = Scratch() / "schema1.sql";
  const std::string columns =
      "id, serial, start_text, start_s, end_text, seconds, climate_lines, firmware, operator, complete, "
      "incomplete_reason, total_accesses, car_pos_errors, uncounted, problems, mean, max, min, load_mean, "
      "unload_mean, ready_bins, file, imported_at, size, key, bytes";
  WriteRealFile(sql, std::string(kSchema1) + "ATTACH '" + now + "' AS now;\nINSERT INTO runs SELECT " + columns +
                         " FROM now.runs;\nINSERT INTO events SELECT id, serial, date_text, date_s, day_only, text "
                         "FROM now.events;\n");
  std::filesystem::remove(kFixture);
  ASSERT_EQ(std::system(("sqlite3 '" + kFixture + "' < '" + sql.string() + "'").c_str()), 0);
}

TEST(Schema, FirstVersionBroughtForwardWithEveryRunAndEvent) {
  const std::string path = DbPath();
  std::filesystem::copy_file(kFixture, path);
  auto a = Make(path);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->SchemaVersion(), kSchemaVersion);
  const std::vector<StoredRun> runs = a->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].figures.serial, 1234);
  EXPECT_TRUE(runs[0].figures.complete);
  EXPECT_EQ(runs[1].figures.serial, 5678);
  EXPECT_FALSE(runs[1].figures.complete);
  for (const StoredRun& s : runs) {
    EXPECT_EQ(s.figures.lineLosses, -1);  // no note known then
    std::string bytes;
    ASSERT_TRUE(a->RunBytes(s.id, bytes));
    const report::ReadResult back = report::ReadResultFile(bytes, s.figures.file);
    ASSERT_EQ(back.status, report::ReadStatus::kRead);
    EXPECT_EQ(back.run.summary.totalAccesses, s.figures.totalAccesses);
    // The key is still the key: the same file again is the same run.
    EXPECT_EQ(a->AddRun(bytes, back.run).outcome, AddOutcome::kAlreadyThere);
  }
  const std::vector<Event> events = a->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].mechanics);
  EXPECT_EQ(events[0].text, "Greifer getauscht \xE2\x80\x93 neu geteacht");
  a.reset();
  // And it opens as it now is.
  EXPECT_EQ(Make(path)->Runs().size(), 2u);
}

TEST(Schema, NewerVersionAndOtherFilesRefusedWithTheirReason) {
  const std::string path = DbPath();
  Make(path).reset();
  std::string bytes = ReadRealFile(path);
  ASSERT_GT(bytes.size(), 100u);
  bytes[63] = 3;  // the header's user version, big-endian at 60
  WriteRealFile(path, bytes);
  std::string error;
  EXPECT_FALSE(Archive::Open(path, false, error));
  EXPECT_EQ(error, "made by a newer vekton-archive (schema 3; this one knows up to 2)");

  const std::filesystem::path text = Scratch() / "1234_00.spf";
  WriteRealFile(text, TestFiles().a);
  EXPECT_FALSE(Archive::Open(text.string(), true, error));
  EXPECT_EQ(error, "not an archive (not an SQLite database)");
  EXPECT_EQ(ReadRealFile(text), TestFiles().a);  // and left as it was
}

}  // namespace
