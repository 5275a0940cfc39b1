// The archive over SQLite: the one file of the program that speaks to it.
//
// Every write is one transaction begun IMMEDIATE (the write lock taken at
// the start, not when the first row changes), and the connection waits up
// to 30 s for a lock another process holds. With the write-ahead log,
// readers never wait for a writer, and two imports at once take turns file
// by file instead of one failing with "database is locked".
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "archive/Archive.h"
#include "platform/TextFile.h"
#include "report/Cli.h"

namespace archive {

namespace {

constexpr int kBusyMs = 30000;
constexpr int kBusyStepMs = 20;
constexpr const char* kGivenUp = "given up with Esc";
// PRAGMA application_id: "VkAr". Tells an archive from some other program's
// SQLite file before anything in it is touched.
constexpr int kApplicationId = 0x566B4172;

// The runs table as version 2 has it. Version 1 had neither line column.
constexpr const char* kCreateSchema = R"(
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
  key INTEGER NOT NULL, bytes BLOB NOT NULL,
  line_losses INTEGER, line_down_s INTEGER);
CREATE INDEX runs_by_store ON runs(serial, start_s);
CREATE INDEX runs_by_key ON runs(key);
CREATE TABLE events(
  id INTEGER PRIMARY KEY,
  serial INTEGER NOT NULL,
  date_text TEXT NOT NULL, date_s INTEGER NOT NULL, day_only INTEGER NOT NULL,
  text TEXT NOT NULL,
  mechanics INTEGER NOT NULL DEFAULT 1);
CREATE INDEX events_by_store ON events(serial, date_s);
)";

constexpr const char* kMigrate1To2 = R"(
ALTER TABLE runs ADD COLUMN line_losses INTEGER;
ALTER TABLE runs ADD COLUMN line_down_s INTEGER;
ALTER TABLE events ADD COLUMN mechanics INTEGER NOT NULL DEFAULT 1;
)";

// The columns a StoredRun is read from, in ReadRun's order.
constexpr const char* kRunColumns =
    "id, serial, start_text, end_text, seconds, climate_lines, firmware, operator, complete, incomplete_reason, "
    "total_accesses, car_pos_errors, uncounted, problems, mean, max, min, load_mean, unload_mean, ready_bins, "
    "file, imported_at, size, line_losses, line_down_s";

// FNV-1a, 64 bits: a run's key is the hash of its first header's bytes.
uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// The file's first nine lines with their line ends: the header the console
// writes when the run starts, the same in every later copy of the file.
std::string_view FirstHeader(std::string_view bytes) {
  size_t end = 0;
  for (int line = 0; line < 9; ++line) {
    const size_t nl = bytes.find('\n', end);
    if (nl == std::string_view::npos) return bytes;
    end = nl + 1;
  }
  return bytes.substr(0, end);
}

// The Ready histogram as LEB128 numbers, one a bin: a day-long run's two
// hundred bins in a few hundred bytes, and no byte order to agree on.
std::string PackBins(const std::vector<uint32_t>& bins) {
  std::string packed;
  for (uint32_t v : bins) {
    do {
      const unsigned char low = v & 0x7F;
      v >>= 7;
      packed.push_back(static_cast<char>(v != 0 ? low | 0x80 : low));
    } while (v != 0);
  }
  return packed;
}

std::vector<uint32_t> UnpackBins(std::string_view packed) {
  std::vector<uint32_t> bins;
  uint64_t v = 0;
  int shift = 0;
  for (char ch : packed) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (shift > 28 || bins.size() >= (1u << 16)) break;  // damage: keep what read
    v |= uint64_t{c & 0x7Fu} << shift;
    if (c & 0x80) {
      shift += 7;
      continue;
    }
    bins.push_back(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v));
    v = 0;
    shift = 0;
  }
  return bins;
}

// "2026-12-08 10:00:02" and back; not valid for anything else.
std::string StampText(const report::Stamp& s) { return s.valid ? s.Date() + " " + s.Time() : std::string(); }

report::Stamp StampOf(std::string_view t) {
  report::Stamp s;
  const auto num = [&](size_t pos, size_t len, int& out) {
    if (pos + len > t.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      out = out * 10 + (t[i] - '0');
    }
    return true;
  };
  if (t.size() < 10 || t[4] != '-' || t[7] != '-' || !num(0, 4, s.year) || !num(5, 2, s.month) ||
      !num(8, 2, s.day))
    return {};
  if (t.size() >= 16 && (t[10] != ' ' || t[13] != ':' || !num(11, 2, s.hour) || !num(14, 2, s.minute))) return {};
  if (t.size() >= 19 && (t[16] != ':' || !num(17, 2, s.second))) return {};
  s.valid = s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31;
  return s;
}

// A prepared statement, finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
  ~Statement() { sqlite3_finalize(s_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return rc_ == SQLITE_OK && s_ != nullptr; }
  void Int(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  // -1 (the figures' "not known") as NULL.
  void IntOrNull(int i, int64_t v) { v < 0 ? (void)sqlite3_bind_null(s_, i) : Int(i, v); }
  void RealOrNull(int i, double v) { v < 0 ? (void)sqlite3_bind_null(s_, i) : (void)sqlite3_bind_double(s_, i, v); }
  void Text(int i, std::string_view v) {
    sqlite3_bind_text64(s_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  void TextOrNull(int i, std::string_view v) { v.empty() ? (void)sqlite3_bind_null(s_, i) : Text(i, v); }
  void Blob(int i, std::string_view v) {
    // An empty string's blob is a zero-length blob, not NULL.
    sqlite3_bind_blob64(s_, i, v.empty() ? "" : v.data(), v.size(), SQLITE_TRANSIENT);
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return Ok() ? sqlite3_step(s_) : rc_; }

  int64_t ColInt(int i) { return sqlite3_column_int64(s_, i); }
  bool IsNull(int i) { return sqlite3_column_type(s_, i) == SQLITE_NULL; }
  int64_t ColIntOr(int i, int64_t none) { return IsNull(i) ? none : ColInt(i); }
  double ColRealOr(int i, double none) { return IsNull(i) ? none : sqlite3_column_double(s_, i); }
  std::string ColBytes(int i) {
    const void* p = sqlite3_column_blob(s_, i);
    const int n = sqlite3_column_bytes(s_, i);
    return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }

 private:
  sqlite3_stmt* s_ = nullptr;
  int rc_ = SQLITE_ERROR;
};

class SqliteArchive final : public Archive {
 public:
  SqliteArchive(sqlite3* db, std::function<bool()> giveUp) : db_(db), giveUp_(std::move(giveUp)) {}
  ~SqliteArchive() override { sqlite3_close(db_); }

  // Settings, then the schema: made in a new file, brought forward in an
  // older one. False with the reason in error.
  bool Prepare(std::string& error);

  int SchemaVersion() override { return PragmaInt("PRAGMA user_version"); }
  AddResult AddRun(std::string_view bytes, const report::Run& run) override;
  AddResult AddFile(const std::string& path) override;
  bool AddEvent(const Event& event, std::string& error) override;
  std::vector<Event> Events(int64_t serial) override;
  std::vector<int64_t> Serials() override;
  std::vector<StoredRun> Runs(int64_t serial) override;
  bool RunBytes(int64_t id, std::string& bytes) override;
  std::string LastError() override { return givenUp_ ? std::string(kGivenUp) : std::string(sqlite3_errmsg(db_)); }

 private:
  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  void Rollback() { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }
  // A PRAGMA's or a query's single number; -1 when it gives none.
  int PragmaInt(const char* sql) {
    Statement st(db_, sql);
    return st.Step() == SQLITE_ROW ? static_cast<int>(st.ColInt(0)) : -1;
  }
  bool SetWal(std::string& error);
  StoredRun ReadRun(Statement& st);

  // The busy handler with giveUp: the time-out's wait in steps of
  // kBusyStepMs, each after asking whether to go on.
  static int Busy(void* self, int count);
  bool GiveUp() {
    if (giveUp_ && giveUp_()) givenUp_ = true;
    return givenUp_;
  }

  sqlite3* db_;
  std::function<bool()> giveUp_;
  bool givenUp_ = false;
};

int SqliteArchive::Busy(void* self, int count) {
  auto* a = static_cast<SqliteArchive*>(self);
  if (static_cast<int64_t>(count) * kBusyStepMs >= kBusyMs || a->GiveUp()) return 0;
  sqlite3_sleep(kBusyStepMs);
  return 1;
}

// Switching to the write-ahead log takes a lock of its own that the busy
// time-out does not always wait for: a second process making the same new
// archive is told "busy" at once. It is tried again for as long as the
// time-out would have waited.
bool SqliteArchive::SetWal(std::string& error) {
  for (int waited = 0;; waited += 50) {
    Statement st(db_, "PRAGMA journal_mode=WAL");
    const int rc = st.Step();
    if (rc == SQLITE_ROW) {
      if (st.ColBytes(0) == "wal") return true;
      error = "cannot keep a write-ahead log there (the archive must be on a local disk)";
      return false;
    }
    if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) {
      error = rc == SQLITE_NOTADB ? "not an archive (not an SQLite database)" : std::string(sqlite3_errmsg(db_));
      return false;
    }
    if (waited >= kBusyMs || GiveUp()) {
      error = givenUp_ ? kGivenUp : "busy: another program holds it";
      return false;
    }
    sqlite3_sleep(50);
  }
}

bool SqliteArchive::Prepare(std::string& error) {
  sqlite3_extended_result_codes(db_, 1);
  if (giveUp_)
    sqlite3_busy_handler(db_, &SqliteArchive::Busy, this);
  else
    sqlite3_busy_timeout(db_, kBusyMs);
  // Reading the header first tells a file that is not SQLite at all.
  {
    Statement st(db_, "PRAGMA user_version");
    const int rc = st.Step();
    if (rc != SQLITE_ROW) {
      error = (rc & 0xFF) == SQLITE_NOTADB ? "not an archive (not an SQLite database)" : LastError();
      return false;
    }
  }
  if (!SetWal(error)) return false;
  if (!Exec("PRAGMA synchronous=NORMAL") || !Exec("PRAGMA foreign_keys=ON")) {
    error = LastError();
    return false;
  }
  // Read again inside the write lock: another process may have made or
  // brought forward the schema since.
  for (bool locked = false;; locked = true) {
    const int version = SchemaVersion();
    const int app = PragmaInt("PRAGMA application_id");
    const int tables = PragmaInt("SELECT count(*) FROM sqlite_master");
    if (version < 0 || app < 0 || tables < 0) {
      error = LastError();
      if (locked) Rollback();
      return false;
    }
    if ((version == 0 && tables > 0) || (version > 0 && app != kApplicationId)) {
      error = "not an archive of vekton-archive (an SQLite database of another program)";
      if (locked) Rollback();
      return false;
    }
    if (version > kSchemaVersion) {
      error = "made by a newer vekton-archive (schema " + std::to_string(version) + "; this one knows up to " +
              std::to_string(kSchemaVersion) + ")";
      if (locked) Rollback();
      return false;
    }
    if (version == kSchemaVersion) {
      if (locked && !Exec("COMMIT")) {
        error = LastError();
        Rollback();
        return false;
      }
      return true;
    }
    if (!locked) {
      if (!Exec("BEGIN IMMEDIATE")) {
        error = LastError();
        return false;
      }
      continue;
    }
    const bool done =
        version == 0 ? Exec(kCreateSchema) && Exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str())
                     : Exec(kMigrate1To2);
    if (!done || !Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) || !Exec("COMMIT")) {
      error = (version == 0 ? "cannot make the archive: " : "cannot bring the archive forward: ") + LastError();
      Rollback();
      return false;
    }
    return true;
  }
}

AddResult SqliteArchive::AddRun(std::string_view bytes, const report::Run& run) {
  AddResult r;
  const auto failed = [&](bool inTransaction) {
    r = {};
    r.outcome = AddOutcome::kFailed;
    r.message = "cannot write the archive: " + LastError();
    if (inTransaction) Rollback();
    return r;
  };
  const int64_t key = static_cast<int64_t>(Fnv1a(FirstHeader(bytes)));
  if (!Exec("BEGIN IMMEDIATE")) return failed(false);

  // The runs that began with the same header: the same run, a shorter or a
  // longer copy of it, or (rarely) another run of that store that minute.
  int64_t replace = 0;
  {
    Statement st(db_, "SELECT id, bytes FROM runs WHERE key = ?1 ORDER BY id");
    st.Int(1, key);
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
      const int64_t id = st.ColInt(0);
      const std::string held = st.ColBytes(1);
      const std::string_view common = bytes.substr(0, std::min(bytes.size(), held.size()));
      if (std::string_view(held).substr(0, common.size()) != common) continue;
      if (held.size() == bytes.size()) r.outcome = AddOutcome::kAlreadyThere;
      else if (held.size() > bytes.size()) r.outcome = AddOutcome::kArchiveHasMore;
      else if (replace == 0) replace = id;
      if (held.size() >= bytes.size()) {
        r.runId = id;
        Rollback();
        return r;
      }
    }
    if (rc != SQLITE_DONE) return failed(true);
  }

  const StoredRun s = StoredRunOf(run);
  const report::RunFigures& f = s.figures;
  // The name stays the one the run was first imported by.
  Statement st(db_, replace != 0
                        ? "UPDATE runs SET serial=?1, start_text=?2, start_s=?3, end_text=?4, seconds=?5, "
                          "climate_lines=?6, firmware=?7, operator=?8, complete=?9, incomplete_reason=?10, "
                          "total_accesses=?11, car_pos_errors=?12, uncounted=?13, problems=?14, mean=?15, max=?16, "
                          "min=?17, load_mean=?18, unload_mean=?19, ready_bins=?20, "
                          "imported_at=strftime('%Y-%m-%d %H:%M:%S','now'), size=?22, key=?23, bytes=?24, "
                          "line_losses=?25, line_down_s=?26 WHERE id=?27"
                        : "INSERT INTO runs(serial, start_text, start_s, end_text, seconds, climate_lines, firmware, "
                          "operator, complete, incomplete_reason, total_accesses, car_pos_errors, uncounted, problems, "
                          "mean, max, min, load_mean, unload_mean, ready_bins, file, imported_at, size, key, bytes, "
                          "line_losses, line_down_s) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
                          "?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, strftime('%Y-%m-%d %H:%M:%S','now'), ?22, ?23, "
                          "?24, ?25, ?26)");
  st.Int(1, f.serial);
  st.TextOrNull(2, StampText(f.start));
  if (f.start.valid) st.Int(3, f.start.Seconds());
  st.TextOrNull(4, StampText(f.end));
  st.IntOrNull(5, f.seconds);
  st.Int(6, f.climateLines);
  st.Blob(7, f.firmware);
  st.Blob(8, f.operatorName);
  st.Int(9, f.complete ? 1 : 0);
  st.Text(10, f.incompleteReason);
  st.IntOrNull(11, f.totalAccesses);
  // -1 is an error count the console prints; it is kept as it stands.
  if (run.summary.hasCarPosErrors) st.Int(12, f.carPosErrors);
  st.Int(13, f.uncounted);
  st.Int(14, f.problems);
  st.RealOrNull(15, f.mean);
  st.RealOrNull(16, f.max);
  st.RealOrNull(17, f.min);
  st.RealOrNull(18, f.loadMean);
  st.RealOrNull(19, f.unloadMean);
  st.Blob(20, PackBins(s.readyBins));
  if (replace == 0) st.Blob(21, run.file);
  st.Int(22, static_cast<int64_t>(bytes.size()));
  st.Int(23, key);
  st.Blob(24, bytes);
  st.IntOrNull(25, f.lineLosses);
  st.IntOrNull(26, f.lineDownSeconds);
  if (replace != 0) st.Int(27, replace);
  if (st.Step() != SQLITE_DONE) return failed(true);
  r.runId = replace != 0 ? replace : sqlite3_last_insert_rowid(db_);
  if (!Exec("COMMIT")) return failed(true);
  r.outcome = replace != 0 ? AddOutcome::kReplaced : AddOutcome::kAdded;
  r.serial = f.serial;
  r.start = f.start;
  return r;
}

AddResult SqliteArchive::AddFile(const std::string& path) {
  // The file is read once: the bytes kept are the bytes the figures come
  // from, even while the console is still writing to it.
  AddResult r;
  r.outcome = AddOutcome::kNotResultFile;
  std::string bytes;
  if (const int error = FileReadAll(path, bytes, report::kMaxResultFileBytes); error != 0) {
    r.message = error == kFileTooLarge ? "not a result file: larger than " +
                                             std::to_string(report::kMaxResultFileBytes >> 20) + " MB"
                                       : "cannot read: " + FileErrorText(error);
    return r;
  }
  report::ReadResult read = report::ReadResultFile(bytes, path);
  if (read.status != report::ReadStatus::kRead) {
    r.line = read.error.line;
    r.message = "not a result file: " + read.error.text;
    return r;
  }
  // The console's line note, beside the file, as vekton-report reads it.
  std::string note;
  if (FileReadAll(report::LineNotePathFor(path), note, 4096) == 0)
    report::ParseLineNote(note, read.run.lineLosses, read.run.lineDownSeconds);
  return AddRun(bytes, read.run);
}

bool SqliteArchive::AddEvent(const Event& e, std::string& error) {
  if (e.serial < 0 || !e.when.valid || e.text.empty()) {
    error = "an event needs a store, a date and a text";
    return false;
  }
  if (!Exec("BEGIN IMMEDIATE")) {
    error = LastError();
    return false;
  }
  Statement st(db_, "INSERT INTO events(serial, date_text, date_s, day_only, text, mechanics) VALUES(?1,?2,?3,?4,?5,?6)");
  st.Int(1, e.serial);
  st.Text(2, e.dayOnly ? e.when.Date() : e.when.Date() + " " + e.when.Time().substr(0, 5));
  st.Int(3, e.when.Seconds());
  st.Int(4, e.dayOnly ? 1 : 0);
  st.Text(5, e.text);
  st.Int(6, e.mechanics ? 1 : 0);
  if (st.Step() != SQLITE_DONE || !Exec("COMMIT")) {
    error = LastError();
    Rollback();
    return false;
  }
  return true;
}

std::vector<Event> SqliteArchive::Events(int64_t serial) {
  std::vector<Event> events;
  Statement st(db_,
               "SELECT id, serial, date_text, day_only, text, mechanics FROM events WHERE ?1 < 0 OR serial = ?1 "
               "ORDER BY serial, date_s, id");
  st.Int(1, serial);
  while (st.Step() == SQLITE_ROW) {
    Event e;
    e.id = st.ColInt(0);
    e.serial = st.ColInt(1);
    e.when = StampOf(st.ColBytes(2));
    e.dayOnly = st.ColInt(3) != 0;
    e.text = st.ColBytes(4);
    e.mechanics = st.ColInt(5) != 0;
    events.push_back(std::move(e));
  }
  return events;
}

std::vector<int64_t> SqliteArchive::Serials() {
  std::vector<int64_t> serials;
  Statement st(db_, "SELECT serial FROM runs UNION SELECT serial FROM events ORDER BY 1");
  while (st.Step() == SQLITE_ROW) serials.push_back(st.ColInt(0));
  return serials;
}

StoredRun SqliteArchive::ReadRun(Statement& st) {
  StoredRun s;
  report::RunFigures& f = s.figures;
  s.id = st.ColInt(0);
  f.serial = st.ColInt(1);
  f.start = StampOf(st.ColBytes(2));
  f.end = StampOf(st.ColBytes(3));
  f.seconds = st.ColIntOr(4, -1);
  f.climateLines = st.ColInt(5);
  f.firmware = st.ColBytes(6);
  f.operatorName = st.ColBytes(7);
  f.complete = st.ColInt(8) != 0;
  f.incompleteReason = st.ColBytes(9);
  f.totalAccesses = st.ColIntOr(10, -1);
  f.carPosErrors = st.ColIntOr(11, -1);
  f.uncounted = st.ColInt(12);
  f.problems = st.ColInt(13);
  f.mean = st.ColRealOr(14, -1);
  f.max = st.ColRealOr(15, -1);
  f.min = st.ColRealOr(16, -1);
  f.loadMean = st.ColRealOr(17, -1);
  f.unloadMean = st.ColRealOr(18, -1);
  s.readyBins = UnpackBins(st.ColBytes(19));
  f.file = st.ColBytes(20);
  s.importedAt = st.ColBytes(21);
  s.bytes = st.ColInt(22);
  f.lineLosses = st.ColIntOr(23, -1);
  f.lineDownSeconds = st.ColIntOr(24, -1);
  return s;
}

std::vector<StoredRun> SqliteArchive::Runs(int64_t serial) {
  std::vector<StoredRun> runs;
  // Runs without a readable start go last in their store.
  const std::string sql = std::string("SELECT ") + kRunColumns +
                          " FROM runs WHERE ?1 < 0 OR serial = ?1 ORDER BY serial, start_s IS NULL, start_s, id";
  Statement st(db_, sql.c_str());
  st.Int(1, serial);
  while (st.Step() == SQLITE_ROW) runs.push_back(ReadRun(st));
  return runs;
}

bool SqliteArchive::RunBytes(int64_t id, std::string& bytes) {
  Statement st(db_, "SELECT bytes FROM runs WHERE id = ?1");
  st.Int(1, id);
  if (st.Step() != SQLITE_ROW) return false;
  bytes = st.ColBytes(0);
  return true;
}

}  // namespace

std::unique_ptr<Archive> Archive::Open(const std::string& path, bool create, std::string& error,
                                       std::function<bool()> giveUp) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const int rc = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    if (!create && (rc & 0xFF) == SQLITE_CANTOPEN) {
      // Not there at all, or there but not to be written?
      sqlite3* probe = nullptr;
      const bool exists = sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
      sqlite3_close(probe);
      error = exists ? "cannot open for writing" : "no archive there";
    } else {
      error = "cannot open: " + error;
    }
    return nullptr;
  }
  auto archive = std::make_unique<SqliteArchive>(db, std::move(giveUp));
  if (!archive->Prepare(error)) return nullptr;
  return archive;
}

bool ArchiveResultFile(const std::string& dbPath, const std::string& resultFile, std::string& line,
                       std::function<bool()> giveUp) {
  std::string error;
  std::unique_ptr<Archive> archive = Archive::Open(dbPath, true, error, std::move(giveUp));
  if (!archive) {
    line = "Not archived: " + report::Shown(dbPath) + ": " + report::Shown(error);
    return false;
  }
  const AddResult r = archive->AddFile(resultFile);
  const std::string in = "Archived in " + report::Shown(dbPath);
  switch (r.outcome) {
    case AddOutcome::kAdded: line = in; return true;
    case AddOutcome::kAlreadyThere: line = in + " (already there)"; return true;
    case AddOutcome::kReplaced: line = in + " (replacing its shorter self)"; return true;
    case AddOutcome::kArchiveHasMore:
      line = "Not archived: " + report::Shown(dbPath) + " holds more of this run";
      return false;
    default:
      line = "Not archived: " + report::Shown(r.line > 0 ? r.message + " (line " + std::to_string(r.line) + ")"
                                                       : r.message);
      return false;
  }
}

}  // namespace archive
