#include "trace/Reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>

namespace trace {
namespace {

// A day's trace is some 70 MB: a megabyte a read keeps the calls few
// without holding much.
constexpr size_t kBlock = size_t{1} << 20;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Open(const std::string& path, int& error) {
  errno = 0;
  File f(std::fopen(path.c_str(), "rb"));
  error = f ? 0 : (errno != 0 ? errno : ENOENT);
  return f;
}

}  // namespace

std::string ReadErrorText(int code) { return std::strerror(code); }

int ReadTraceFile(const std::string& path, const RecordSink& onRecord, const BadLineSink& onBad) {
  int error = 0;
  File f = Open(path, error);
  if (!f) return error;
  // buf holds the unread rest of the last block (a line begun) and the next
  // block after it; a line is never longer than kMaxLine, so what is kept
  // stays bounded: a longer "line" is skipped up to its LF.
  std::string buf(kBlock + kMaxLine + 2, '\0');
  size_t kept = 0;
  bool skipping = false;  // inside a line too long to be a record
  int64_t lineNumber = 0;
  Record r;
  std::string why;
  for (;;) {
    const size_t got = std::fread(buf.data() + kept, 1, kBlock, f.get());
    if (got == 0) {
      if (std::ferror(f.get())) return errno != 0 ? errno : EIO;
      return 0;  // what is kept has no LF: half written, not read
    }
    const char* p = buf.data();
    const char* end = buf.data() + kept + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!nl) break;
      ++lineNumber;
      const std::string_view line(p, static_cast<size_t>(nl - p));
      if (skipping) {
        skipping = false;
        onBad(lineNumber, "a line longer than any record");
      } else if (ParseRecord(line, r, &why)) {
        onRecord(r, line);
      } else {
        onBad(lineNumber, why);
      }
      p = nl + 1;
    }
    kept = static_cast<size_t>(end - p);
    if (kept > kMaxLine + 1) {
      skipping = true;
      kept = 0;
    } else {
      std::memmove(buf.data(), p, kept);
    }
  }
}

int ReadFileEnds(const std::string& path, FileEnds& ends) {
  ends = {};
  std::ifstream f(path, std::ios::binary);
  if (!f) return errno != 0 ? errno : ENOENT;
  // The first line.
  std::string buf(kMaxLine + 2, '\0');
  f.read(buf.data(), static_cast<std::streamsize>(buf.size()));
  std::string_view head(buf.data(), static_cast<size_t>(f.gcount()));
  if (const size_t nl = head.find('\n'); nl != std::string_view::npos)
    ends.hasFirst = ParseRecord(head.substr(0, nl), ends.first);
  // The last whole line that reads, from the file's tail: two of the
  // longest lines hold the last whole one and a half-written one after it.
  f.clear();
  f.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(std::max<std::streamoff>(0, f.tellg()));
  const uint64_t tail = std::min<uint64_t>(size, 2 * (kMaxLine + 1));
  std::string t(tail, '\0');
  f.seekg(static_cast<std::streamoff>(size - tail), std::ios::beg);
  f.read(t.data(), static_cast<std::streamsize>(t.size()));
  if (!f) return errno != 0 ? errno : EIO;
  std::string_view rest(t);
  const size_t lastLf = rest.rfind('\n');
  if (lastLf == std::string_view::npos) return 0;
  rest = rest.substr(0, lastLf);
  for (;;) {
    const size_t nl = rest.rfind('\n');
    // A line at the tail's start is whole only when the tail is the file.
    if (nl == std::string_view::npos && tail < size) return 0;
    const std::string_view line = nl == std::string_view::npos ? rest : rest.substr(nl + 1);
    if (ParseRecord(line, ends.last)) {
      ends.hasLast = true;
      return 0;
    }
    if (nl == std::string_view::npos) return 0;
    rest = rest.substr(0, nl);
  }
}

int FindRuns(const std::string& folder, std::vector<RunFiles>& runs) {
  runs.clear();
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return ec.value();
  std::map<std::string, RunFiles> byKey;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return ec.value();
    std::error_code fileEc;
    if (!it->is_regular_file(fileEc)) continue;
    RunPart part;
    part.name = it->path().filename().string();
    std::string key;
    if (!ParseFileName(part.name, key, part.part)) continue;
    part.path = it->path().string();
    part.bytes = it->file_size(fileEc);
    if (fileEc) part.bytes = 0;
    RunFiles& run = byKey[key];
    run.key = key;
    run.parts.push_back(std::move(part));
  }
  if (ec) return ec.value();
  for (auto& [key, run] : byKey) {
    std::sort(run.parts.begin(), run.parts.end(), [](const RunPart& a, const RunPart& b) { return a.part < b.part; });
    runs.push_back(std::move(run));
  }
  return 0;
}

}  // namespace trace
