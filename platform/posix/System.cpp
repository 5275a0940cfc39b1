// Clock, date, environment and file search on POSIX.
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>

#include "platform/System.h"

namespace {

void LocalNow(tm& out, long& nanoseconds) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  localtime_r(&ts.tv_sec, &out);
  nanoseconds = ts.tv_nsec;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

void GetTime(uint16_t& hour, uint16_t& minute, uint16_t& second, uint16_t& hundredths) {
  tm t{};
  long ns = 0;
  LocalNow(t, ns);
  hour = static_cast<uint16_t>(t.tm_hour);
  minute = static_cast<uint16_t>(t.tm_min);
  // A leap second shows as :59 once more rather than as :60.
  second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  hundredths = static_cast<uint16_t>(ns / 10000000);
}

void GetDate(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& dayOfWeek) {
  tm t{};
  long ns = 0;
  LocalNow(t, ns);
  year = static_cast<uint16_t>(t.tm_year + 1900);
  month = static_cast<uint16_t>(t.tm_mon + 1);
  day = static_cast<uint16_t>(t.tm_mday);
  dayOfWeek = static_cast<uint16_t>(t.tm_wday);  // 0 is Sunday, as in DOS
}

std::string GetEnv(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  return v ? std::string(v) : std::string();
}

std::string FSearch(std::string_view name, std::string_view dirList) {
  if (name.empty()) return {};
  std::string n(name);
  if (IsFile(n)) return n;
  if (n.front() == '/') return {};  // an absolute path is not searched for
  size_t start = 0;
  while (start < dirList.size()) {
    size_t end = dirList.find(':', start);
    if (end == std::string_view::npos) end = dirList.size();
    std::string dir(dirList.substr(start, end - start));
    // An empty entry means the current directory, already looked at.
    if (!dir.empty()) {
      std::string path = dir.back() == '/' ? dir + n : dir + "/" + n;
      if (IsFile(path)) return path;
    }
    start = end + 1;
  }
  return {};
}

// Reported like a current Windows: the low byte (the major version) is above
// 6, which picks the guided accesses' colours for a modern console.
uint16_t DosVersion() { return 0x000A; }  // major 10 in the low byte, minor 0 in the high
