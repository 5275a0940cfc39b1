// What the line's recorder needs of Windows: its clocks, the host, the
// process and files written straight to the system.
#include <windows.h>

#include "platform/TraceLine.h"
#include "platform/win32/Win32Internal.h"

namespace {
HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

TraceClock TraceClockNow() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // FILETIME counts 100 ns from 1601-01-01.
  constexpr int64_t kEpochDiffUs = 11644473600ll * 1000000;
  TIME_ZONE_INFORMATION tz{};
  const DWORD state = GetTimeZoneInformation(&tz);
  LONG bias = tz.Bias;
  if (state == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
  else if (state == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
  TraceClock c;
  c.monoUs = win32::MonotonicUs();
  c.wallUs = static_cast<int64_t>(t.QuadPart / 10) - kEpochDiffUs;
  c.offsetMinutes = state == TIME_ZONE_ID_INVALID ? 0 : static_cast<int>(-bias);
  return c;
}

std::string TraceHostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "unknown";
  return name;
}

long TraceProcessId() { return static_cast<long>(GetCurrentProcessId()); }

int TraceFileCreate(const std::string& path, intptr_t& handle) {
  handle = -1;
  // Others may read the trace while it grows, and remove it (a folder kept
  // within its bound by another console).
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

int TraceFileWrite(intptr_t handle, const char* data, size_t n) {
  while (n > 0) {
    DWORD w = 0;
    if (!WriteFile(H(handle), data, static_cast<DWORD>(n), &w, nullptr)) return static_cast<int>(GetLastError());
    if (w == 0) return ERROR_WRITE_FAULT;
    data += w;
    n -= w;
  }
  return 0;
}

void TraceFileClose(intptr_t handle) {
  if (handle != -1) CloseHandle(H(handle));
}
