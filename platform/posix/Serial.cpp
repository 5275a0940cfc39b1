// Serial ports on POSIX, what the shared table (platform/SerialTable.cpp)
// asks of the system: the clock, the yield and the waits, the device a port
// number names, the system's error codes, and the program's idle wait on the
// keyboard and the line.
//
// Without VEKTON_COM<n>, port n is /dev/ttyS<n-1>, the kernel's own COM
// numbering; with it, the path it names (or a network line).
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <string>

#include "platform/Crt.h"
#include "platform/SerialPort.h"
#include "platform/posix/PosixInternal.h"

// In the order of SerialSystemCodes.
const SerialSystemCodes kSerialCodes = {EBADF,   EBUSY,  ETIMEDOUT,    EINVAL,
                                        ENOBUFS, EAGAIN, EHOSTUNREACH, EIO};

uint64_t SerialNowUs() { return posix::MonotonicUs(); }

void SerialYield() { posix::Yield(); }

void SerialSleepUs(uint64_t us) {
  timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  nanosleep(&ts, nullptr);
}

bool SerialEscQueued() { return posix::EscQueued(); }

int SerialWaitReady(intptr_t sys, int want, uint64_t deadlineUs) {
  const uint64_t now = posix::MonotonicUs();
  if (now >= deadlineUs) return 0;
  uint64_t left = deadlineUs - now;
  if (left > kSerialSliceUs) left = kSerialSliceUs;
  const short events = static_cast<short>(((want & kSerialReadable) ? POLLIN : 0) |
                                          ((want & kSerialWritable) ? POLLOUT : 0));
  pollfd p{static_cast<int>(sys), events, 0};
  // Rounded up, so a read never returns before its time-out has passed.
  if (poll(&p, 1, static_cast<int>((left + 999) / 1000)) <= 0) return 0;
  return ((p.revents & POLLIN) ? kSerialReadable : 0) |
         ((p.revents & POLLOUT) ? kSerialWritable : 0) |
         ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? kSerialFailed : 0);
}

std::string SerialDevicePath(int port, const std::string& setting) {
  return setting.empty() ? "/dev/ttyS" + std::to_string(port - 1) : setting;
}

int SerialNoDeviceError() { return ENOENT; }

// Keys first: one may sit in our own queue or in the terminal library's
// buffer, where no descriptor shows it, and KeyPressed takes both in. Then
// the line's decoded bytes (SerialWakeDue). Only then sleep in poll on the
// keyboard and the line, a slice at a time so that signals and the screen
// are still seen to.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line) {
  const uint64_t deadline = posix::MonotonicUs() + static_cast<uint64_t>(maxMs) * 1000;
  // A line that wakes poll with nothing to read (closed, hung up, or only
  // Telnet control) is left out of the next short sleep: never a spin.
  uint64_t lineQuietUntil = 0;
  for (;;) {
    WakeReason why;
    SerialPort* p = nullptr;
    if (SerialWakeDue(line, deadline, why, p)) return why;
    const uint64_t now = posix::MonotonicUs();
    uint64_t left = deadline > now ? deadline - now : 0;
    if (left > kSerialSliceUs) left = kSerialSliceUs;
    pollfd fds[2];
    nfds_t n = 0;
    if (const int keyFd = posix::KeyWaitFd(); keyFd >= 0) fds[n++] = pollfd{keyFd, POLLIN, 0};
    const intptr_t lineFd = p ? p->ops->waitObject(*p) : kSerialNoWaitObject;
    const bool watchLine = lineFd != kSerialNoWaitObject && now >= lineQuietUntil;
    if (watchLine) {
      fds[n++] = pollfd{static_cast<int>(lineFd), POLLIN, 0};
    } else if (p && left > 1000) {
      left = 1000;  // look at the line again soon
    }
    // Rounded up, so the wait never ends before its deadline.
    const int r = poll(fds, n, static_cast<int>((left + 999) / 1000));
    if (r > 0 && watchLine && fds[n - 1].revents != 0) lineQuietUntil = posix::MonotonicUs() + 1000;
  }
}
