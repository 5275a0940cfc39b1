// Clock, date, environment, file search and system version on Windows.
#include <windows.h>

#include <string>

#include "platform/System.h"

namespace {

bool IsFile(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A name with a drive or a leading separator is a path of its own and is not
// looked for along the list.
bool IsRooted(const std::string& name) {
  return name.find(':') != std::string::npos || name.front() == '\\' || name.front() == '/';
}

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

}  // namespace

void GetTime(uint16_t& hour, uint16_t& minute, uint16_t& second, uint16_t& hundredths) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  hour = t.wHour;
  minute = t.wMinute;
  second = t.wSecond;
  hundredths = static_cast<uint16_t>(t.wMilliseconds / 10);
}

void GetDate(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& dayOfWeek) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  year = t.wYear;
  month = t.wMonth;
  day = t.wDay;
  dayOfWeek = t.wDayOfWeek;  // 0 is Sunday, as in DOS
}

std::string GetEnv(std::string_view name) {
  const std::string n(name);
  std::string value(256, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD len = GetEnvironmentVariableA(n.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (len == 0) return {};  // not set, or set to nothing
    if (len < value.size()) {
      value.resize(len);
      return value;
    }
    value.resize(len);  // too small: len is the size needed, terminator included
  }
}

std::string FSearch(std::string_view name, std::string_view dirList) {
  if (name.empty()) return {};
  const std::string n(name);
  if (IsFile(n)) return n;
  if (IsRooted(n)) return {};
  size_t start = 0;
  while (start < dirList.size()) {
    size_t end = dirList.find(';', start);
    if (end == std::string_view::npos) end = dirList.size();
    const std::string dir(dirList.substr(start, end - start));
    // An empty entry means the current directory, already looked at.
    if (!dir.empty()) {
      const char last = dir.back();
      const std::string path = last == '\\' || last == '/' || last == ':' ? dir + n : dir + "\\" + n;
      if (IsFile(path)) return path;
    }
    start = end + 1;
  }
  return {};
}

// The version Windows really runs: GetVersion reports 6.2 to any program
// without a compatibility manifest, whatever the system. The major version
// goes in the low byte, the minor in the high, as DOS put them.
uint16_t DosVersion() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
    auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (get && get(&v) == 0)
      return static_cast<uint16_t>(((v.dwMinorVersion & 0xFF) << 8) | (v.dwMajorVersion & 0xFF));
  }
  const DWORD w = GetVersion();
  return static_cast<uint16_t>(((w >> 8) & 0xFF) << 8 | (w & 0xFF));
}
