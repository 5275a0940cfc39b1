// What the line's recorder needs of POSIX: its clocks, the host, the process
// and files written straight to the system.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/TraceLine.h"

TraceClock TraceClockNow() {
  timespec mono{}, wall{};
  clock_gettime(CLOCK_MONOTONIC, &mono);
  clock_gettime(CLOCK_REALTIME, &wall);
  tm local{};
  localtime_r(&wall.tv_sec, &local);
  TraceClock c;
  c.monoUs = static_cast<uint64_t>(mono.tv_sec) * 1000000u + static_cast<uint64_t>(mono.tv_nsec / 1000);
  c.wallUs = static_cast<int64_t>(wall.tv_sec) * 1000000 + wall.tv_nsec / 1000;
  c.offsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
  return c;
}

std::string TraceHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

long TraceProcessId() { return static_cast<long>(getpid()); }

int TraceFileCreate(const std::string& path, intptr_t& handle) {
  handle = -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  handle = fd;
  return 0;
}

int TraceFileWrite(intptr_t handle, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(static_cast<int>(handle), data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return EIO;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

void TraceFileClose(intptr_t handle) {
  if (handle >= 0) close(static_cast<int>(handle));
}
