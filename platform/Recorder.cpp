// The line's flight recorder (Trace.h, TraceLine.h): records made as the
// bytes go, written one by one into the run's file, the file cut and the
// folder kept within its bound.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/Serial.h"
#include "platform/System.h"
#include "platform/Trace.h"
#include "platform/TraceLine.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxFileBytes = 16ull << 20;

struct Pending {
  bool open = false;
  TraceClock at{};
  std::string bytes;
};

struct Recorder {
  bool started = false;   // TraceStart called, TraceStop not yet
  bool writing = false;   // a file is open and nothing has failed
  bool failed = false;
  int failCode = 0;
  std::string failFile;
  TraceSetup setup;
  std::string folder;
  TraceClock start{};
  trace::Header header;
  std::string runName;    // vekton-YYYYMMDD-HHMMSS-PID
  std::string path;       // the file being written
  std::string name;       // its name in the folder
  intptr_t handle = -1;
  uint64_t fileBytes = 0;
  uint64_t fileLimit = kMaxFileBytes;
  Pending tx, rx;
};

Recorder gRec;

bool Active() { return gRec.writing; }

void Fail(const std::string& file, int code) {
  if (gRec.handle != -1) TraceFileClose(gRec.handle);
  gRec.handle = -1;
  gRec.writing = false;
  gRec.failed = true;
  gRec.failCode = code != 0 ? code : EIO;
  gRec.failFile = file;
}

// A file's path in the folder, in the folder's own text: the system's, as
// the environment and the command line give it and the file calls take it
// (on Windows the ANSI code page). Made by std::filesystem it would come
// back as UTF-8 on Windows, another name wherever the folder is not ASCII.
std::string Join(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  constexpr char kSeparator = '\\';
  const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/' || folder.back() == ':');
#else
  constexpr char kSeparator = '/';
  const bool ends = !folder.empty() && folder.back() == '/';
#endif
  return folder.empty() || ends ? folder + name : folder + kSeparator + name;
}

// The local date and time of a clock reading, as FileName takes them.
void LocalParts(const TraceClock& c, int (&v)[6]) {
  const std::string t = trace::FormatWallClock(c.wallUs, c.offsetMinutes);
  v[0] = std::stoi(t.substr(0, 4));
  for (int i = 1; i < 6; ++i) v[i] = std::stoi(t.substr(5 + (i - 1) * 3, 2));
}

// The oldest whole trace files go until the folder's files fit its bound
// with the file being written at its full size, so that the folder never
// passes the bound; that file is never one of them. A file that cannot be
// seen or removed (another user's, one gone meanwhile) is passed over.
void KeepFolderBound() {
  struct Entry {
    std::string key;
    int part;
    fs::path path;
    uint64_t size;
  };
  std::vector<Entry> files;
  uint64_t total = 0;
  std::error_code ec;
  for (fs::directory_iterator it(gRec.folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string key;
    int part = 0;
    if (!trace::ParseFileName(it->path().filename().string(), key, part)) continue;
    std::error_code sizeError;
    const uint64_t size = fs::file_size(it->path(), sizeError);
    if (sizeError) continue;
    if (it->path().filename().string() == gRec.name) continue;
    total += size;
    files.push_back({key, part, it->path(), size});
  }
  total += gRec.fileLimit;
  std::sort(files.begin(), files.end(),
            [](const Entry& a, const Entry& b) { return a.key != b.key ? a.key < b.key : a.part < b.part; });
  for (const Entry& f : files) {
    if (total <= gRec.setup.maxBytes) break;
    std::error_code removeError;
    if (fs::remove(f.path, removeError)) total -= f.size;
  }
}

bool WriteLine(const std::string& line) {
  if (const int code = TraceFileWrite(gRec.handle, line.data(), line.size()); code != 0) {
    Fail(gRec.path, code);
    return false;
  }
  gRec.fileBytes += line.size();
  return true;
}

trace::Record Make(const TraceClock& at, trace::Word word, std::string payload) {
  trace::Record r;
  r.wallUs = at.wallUs;
  r.offsetMinutes = at.offsetMinutes;
  r.sinceUs = at.monoUs >= gRec.start.monoUs ? at.monoUs - gRec.start.monoUs : 0;
  r.word = word;
  r.payload = std::move(payload);
  return r;
}

// Opens the run's file of the given part and writes its header.
bool OpenPart(int part, const TraceClock& at) {
  int v[6];
  LocalParts(gRec.start, v);
  const std::string name = trace::FileName(v[0], v[1], v[2], v[3], v[4], v[5], TraceProcessId(), part);
  const std::string path = Join(gRec.folder, name);
  intptr_t h = -1;
  if (const int code = TraceFileCreate(path, h); code != 0) {
    Fail(path, code);
    return false;
  }
  if (gRec.handle != -1) TraceFileClose(gRec.handle);
  gRec.handle = h;
  gRec.path = path;
  gRec.name = name;
  gRec.fileBytes = 0;
  gRec.writing = true;
  gRec.header.part = part;
  if (!WriteLine(trace::FormatRecord(Make(at, trace::Word::kHead, trace::HeaderPayload(gRec.header))))) return false;
  KeepFolderBound();
  return true;
}

void Write(const trace::Record& r) {
  if (!Active()) return;
  const std::string line = trace::FormatRecord(r);
  // A file past its size goes on in the next one; a record never spans two.
  if (gRec.fileBytes + line.size() > gRec.fileLimit && !OpenPart(gRec.header.part + 1, TraceClockNow())) return;
  WriteLine(line);
}

void Flush(Pending& p, trace::Word word) {
  if (!p.open) return;
  p.open = false;
  // A payload longer than a record holds goes as several records of one time.
  std::string_view rest = p.bytes;
  do {
    const std::string_view piece = rest.substr(0, trace::kMaxPayload);
    Write(Make(p.at, word, std::string(piece)));
    rest.remove_prefix(piece.size());
  } while (!rest.empty());
  p.bytes.clear();
}

void FlushBoth() {
  Flush(gRec.tx, trace::Word::kTx);
  Flush(gRec.rx, trace::Word::kRx);
}

void Gather(Pending& p, const uint8_t* data, size_t n) {
  if (!p.open) {
    p.open = true;
    p.at = TraceClockNow();
  }
  p.bytes.append(reinterpret_cast<const char*>(data), n);
}

}  // namespace

std::string TraceDefaultFolder() {
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  const std::string xdg = GetEnv("XDG_STATE_HOME"), home = GetEnv("HOME"), local = GetEnv("LOCALAPPDATA");
  return trace::DefaultFolder(windows, xdg.c_str(), home.c_str(), local.c_str());
}

uint64_t TraceFileLimit(uint64_t maxBytes) { return std::min<uint64_t>(kMaxFileBytes, std::max<uint64_t>(maxBytes / 8, 4096)); }

bool TraceStart(const TraceSetup& setup) {
  TraceStop();
  gRec = Recorder{};
  gRec.setup = setup;
  if (!setup.on) return true;
  gRec.started = true;
  gRec.start = TraceClockNow();
  gRec.fileLimit = TraceFileLimit(setup.maxBytes);
  gRec.folder = setup.folder.empty() ? TraceDefaultFolder() : setup.folder;
  if (gRec.folder.empty()) {
    Fail("(no home folder)", ENOENT);
    return false;
  }
  std::error_code ec;
  fs::create_directories(gRec.folder, ec);
  if (ec || !fs::is_directory(gRec.folder, ec)) {
    Fail(gRec.folder, ec ? ec.value() : ENOTDIR);
    return false;
  }
  return true;
}

void TraceHeader(std::string_view operatorName, int port) {
  if (!gRec.started || gRec.failed || gRec.handle != -1) return;
  gRec.header = trace::Header{"vekton", VEKTON_VERSION, 1, TraceHostName(), port, SerialPortLine(port),
                              std::string(operatorName)};
  OpenPart(1, TraceClockNow());
}

void TraceEvent(trace::Word word, std::string_view text) {
  if (!Active()) return;
  FlushBoth();
  Write(Make(TraceClockNow(), word, std::string(text)));
}

void TraceStop() {
  if (Active()) FlushBoth();
  if (gRec.handle != -1) TraceFileClose(gRec.handle);
  gRec.handle = -1;
  gRec.writing = false;
  gRec.started = false;
}

bool TraceRecording() { return gRec.writing; }

bool TraceStopped(std::string& file, int& code) {
  if (!gRec.failed) return false;
  file = gRec.failFile;
  code = gRec.failCode;
  return true;
}

std::string TraceFilePath() { return gRec.handle != -1 ? gRec.path : std::string(); }

void TraceWrote(const uint8_t* data, size_t n) {
  if (!Active() || n == 0) return;
  Flush(gRec.rx, trace::Word::kRx);
  Gather(gRec.tx, data, n);
  if (std::find(data, data + n, uint8_t{13}) != data + n || gRec.tx.bytes.size() >= trace::kMaxPayload)
    Flush(gRec.tx, trace::Word::kTx);
}

void TraceRead(const uint8_t* data, size_t n) {
  if (!Active() || n == 0) return;
  Flush(gRec.tx, trace::Word::kTx);
  Gather(gRec.rx, data, n);
  if (std::find(data, data + n, uint8_t{10}) != data + n || gRec.rx.bytes.size() >= trace::kMaxPayload)
    Flush(gRec.rx, trace::Word::kRx);
}

void TraceQuiet() {
  if (Active()) FlushBoth();
}

