// The random-access test with --archive: the whole program against the
// simulated store on the virtual platform (its result files on the virtual
// disk), the archive a real SQLite file in a temporary folder. A short run,
// Esc, Q, and what the screen, the result file, the archive and the trace
// hold at the summary's key.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "bench/InProcessRun.h"
#include "console/CommandLine.h"
#include "console/RandomAccess.h"
#include "platform/ScreenModel.h"
#include "platform/Trace.h"
#include "platform/TraceRecord.h"
#include "sim/Harness.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kRunUs = 10 * 60'000'000ull;

// Short names: the archive's line under the page fits one row.
class TempFolder {
 public:
  explicit TempFolder(const char* name) {
    path_ = fs::temp_directory_path() / (std::string("vekton-ac-") + name);
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

struct Outcome {
  std::vector<std::string> screen;  // at the summary's key, trailing blanks cut
  std::string file;                 // the result file as the virtual disk holds it
};

// A run of ten minutes of store time on the given day, archived into db
// (none when empty), the trace kept in traceFolder when it is not empty.
Outcome RunWith(const std::string& db, int day, const std::string& traceFolder = "") {
  sim::StorePeer store;
  ScriptRandomAccessRun(store, "2", kRunUs, nullptr);
  vt::SetDate(2026, 12, day);
  vt::SetTimeOfDay(18, 0, 0, 0);
  ArchiveFile = db;
  Outcome o;
  const std::vector<std::string> steps = {"1\r", "\r", "7\r", "Y", "2\r", "N", "Q", " ", "0\r"};
  vt::SetKeyFeeder([&o, steps, next = size_t{0}]() mutable {
    if (next >= steps.size()) return false;
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
  if (!traceFolder.empty()) {
    TraceSetup setup;
    setup.folder = traceFolder;
    EXPECT_TRUE(TraceStart(setup));
  }
  RunProgram();
  TraceStop();
  ArchiveFile.clear();
  for (const std::string& line : vt::FileLines(ResultFileName.view())) o.file += line + "\n";
  return o;
}

size_t RowOf(const std::vector<std::string>& screen, const std::string& start) {
  for (size_t i = 0; i < screen.size(); ++i)
    if (screen[i].rfind(start, 0) == 0) return i;
  return screen.size();
}

std::vector<archive::StoredRun> Runs(const std::string& db) {
  std::string error;
  const auto a = archive::Archive::Open(db, false, error);
  EXPECT_TRUE(a) << error;
  return a ? a->Runs() : std::vector<archive::StoredRun>{};
}

std::vector<std::string> ResultNotes(const std::string& folder) {
  std::vector<std::string> notes;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::ifstream in(e.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      trace::Record r;
      if (trace::ParseRecord(line, r, nullptr) && r.word == trace::Word::kResult) notes.push_back(r.payload);
    }
  }
  return notes;
}

const Outcome& Plain() {
  static const Outcome o = RunWith("", 8);
  return o;
}

// The archive made at the start, the run in it once its page is written,
// the line under the page's and nothing else on the screen or in the file
// changed; a second run is a second run in the archive.
TEST(ArchiveConsole, EachRunGoesIntoTheArchiveAndSaysSoInOneLine) {
  TempFolder tmp("runs");
  const std::string db = tmp / "runs.db";
  TraceSetup trace;
  std::string limits, given;
  std::ostringstream out, err;
  ASSERT_EQ(ConsoleCommandLine({"--archive", db}, out, err, trace, limits, given), kConsoleStart) << err.str();
  EXPECT_EQ(given, db);
  EXPECT_TRUE(fs::exists(db));
  EXPECT_TRUE(Runs(db).empty());

  const std::string traceFolder = tmp / "trace";
  const Outcome o = RunWith(db, 8, traceFolder);
  const size_t page = RowOf(o.screen, "Report page: 1234_00.html");
  ASSERT_LT(page + 1, o.screen.size());
  EXPECT_EQ(o.screen[page + 1], "Archived in " + db);
  EXPECT_EQ(o.file, Plain().file);
  // The extra line pushed the screen up by one; nothing else moved.
  const size_t plainPage = RowOf(Plain().screen, "Report page: 1234_00.html");
  ASSERT_EQ(page + 1, plainPage);
  for (size_t k = 0; k <= page; ++k) EXPECT_EQ(o.screen[page - k], Plain().screen[plainPage - k]) << k;
  const std::vector<std::string> notes = ResultNotes(traceFolder);
  EXPECT_NE(std::find(notes.begin(), notes.end(), "archive 1234_00.spf Archived in " + db), notes.end());

  std::vector<archive::StoredRun> runs = Runs(db);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].figures.serial, 1234);
  EXPECT_EQ(runs[0].bytes, static_cast<int64_t>(o.file.size()));
  std::string error;
  const auto a = archive::Archive::Open(db, false, error);
  ASSERT_TRUE(a) << error;
  std::string bytes;
  ASSERT_TRUE(a->RunBytes(runs[0].id, bytes));
  EXPECT_EQ(bytes, o.file);

  const Outcome second = RunWith(db, 15);
  EXPECT_EQ(second.screen[RowOf(second.screen, "Report page: 1234_00.html") + 1], "Archived in " + db);
  runs = Runs(db);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NE(runs[0].figures.start.day, runs[1].figures.start.day);
}

// An archive that cannot be opened stops the start with one line; one that
// breaks during the run is one line under the page and the result file is
// as it would be without it.
TEST(ArchiveConsole, AnArchiveThatCannotBeWrittenLosesNothing) {
  TempFolder tmp("broken");
  const std::string broken = tmp / "broken.db";
  std::ofstream(broken) << "this is no database, it only has its name\n";
  TraceSetup trace;
  std::string limits, given;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--archive", broken}, {"--archive", tmp / "no-such-folder/runs.db"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(ConsoleCommandLine(args, out, err, trace, limits, given), kConsoleUsageExit) << args[1];
    const std::string line = err.str();
    EXPECT_EQ(line.rfind("vekton: " + args[1] + ": ", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_EQ(out.str(), "");
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--archive"}, {"--archive", ""}, {"--archive", "a.db", "--archive", "a.db"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(ConsoleCommandLine(args, out, err, trace, limits, given), kConsoleUsageExit);
    EXPECT_EQ(err.str().rfind("vekton: --archive ", 0), 0u) << err.str();
  }

  // Its name on the screen cannot act on the terminal either.
  const std::string escaped = tmp / "\x1b[2J.db";
  std::ofstream(escaped) << "no database\n";
  for (const std::string& db : {broken, escaped}) {
    const Outcome o = RunWith(db, 8);
    const size_t line = RowOf(o.screen, "Report page: 1234_00.html") + 1;
    ASSERT_LT(line, o.screen.size());
    EXPECT_EQ(o.screen[line].rfind("Not archived: ", 0), 0u) << o.screen[line];
    for (char c : o.screen[line]) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << o.screen[line];
    EXPECT_EQ(o.file, Plain().file);
  }
}

}  // namespace
