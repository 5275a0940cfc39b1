// The POSIX serial port against a pseudo-terminal: the test holds the master
// side as the far end of the cable, the port under test opens the slave path
// through VEKTON_COM<n>.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Serial.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;

  explicit Pty(int port) {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) ADD_FAILURE() << "openpty";
    path = name;
    setenv(("VEKTON_COM" + std::to_string(port)).c_str(), name, 1);
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  void CloseMaster() {
    close(master);
    master = -1;
  }
  void Send(const std::string& s) const { ASSERT_EQ(write(master, s.data(), s.size()), (ssize_t)s.size()); }
  // Everything the port wrote that arrives within ms.
  std::string Receive(int ms) const {
    std::string out;
    char buf[256];
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
};

const SerialSettings kPlc{9600, 'E', 8, 1, false};

// Opens port with the PLC settings and the given read time-out.
SerialHandle OpenConfigured(int port, uint32_t readTimeoutMs) {
  SerialHandle h = kInvalidSerialHandle;
  EXPECT_EQ(SerialOpen(port, h), 0);
  EXPECT_TRUE(SerialSetSettings(h, kPlc));
  SerialTimeouts t{};
  t.readTotalConstant = readTimeoutMs;
  EXPECT_TRUE(SerialSetTimeouts(h, t));
  return h;
}

// Waits until the driver has moved n bytes to the port's input queue.
uint32_t WaitForBytes(SerialHandle h, uint32_t n) {
  uint32_t waiting = 0;
  for (int i = 0; i < 200 && waiting < n; ++i) {
    if (!SerialClearError(h, waiting)) return 0;
    if (waiting < n) usleep(5000);
  }
  return waiting;
}

TEST(PosixSerial, PortNumbersMapToDevices) {
  {  // the environment names the device
    Pty pty(7);
    SerialHandle h = kInvalidSerialHandle;
    ASSERT_EQ(SerialOpen(7, h), 0);
    EXPECT_NE(h, kInvalidSerialHandle);
    SerialClose(h);
  }
  setenv("VEKTON_COM5", "/nonexistent/vekton-port", 1);
  SerialHandle h = 42;
  EXPECT_EQ(SerialOpen(5, h), ENOENT);
  EXPECT_EQ(h, kInvalidSerialHandle);
  EXPECT_EQ(SerialLastError(), ENOENT);
  unsetenv("VEKTON_COM5");

  // Without the variable (or with it empty) port n is /dev/ttyS<n-1>: the
  // result is whatever opening that device gives on this machine.
  for (int port : {1, 3}) {
    std::string dev = "/dev/ttyS" + std::to_string(port - 1);
    setenv(("VEKTON_COM" + std::to_string(port)).c_str(), "", 1);
    int fd = open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int expected = fd >= 0 ? 0 : errno;
    if (fd >= 0) close(fd);
    SerialHandle hp = kInvalidSerialHandle;
    EXPECT_EQ(SerialOpen(port, hp), expected) << dev;
    if (hp != kInvalidSerialHandle) SerialClose(hp);
  }

  // Outside 1..128 nothing is opened, even with a device named for it.
  Pty pty0(0), pty129(129);
  for (int port : {0, 129, -1}) {
    SerialHandle hp = 42;
    EXPECT_EQ(SerialOpen(port, hp), ENOENT) << port;
    EXPECT_EQ(SerialOpen(port, hp), SerialNoDeviceError());
    EXPECT_EQ(hp, kInvalidSerialHandle);
  }
}

TEST(PosixSerial, OpenIsExclusiveUntilClosed) {
  Pty pty(8);
  SerialHandle a = kInvalidSerialHandle, b = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(8, a), 0);
  EXPECT_EQ(SerialOpen(8, b), EBUSY);
  EXPECT_EQ(b, kInvalidSerialHandle);
  SerialClose(a);
  ASSERT_EQ(SerialOpen(8, b), 0);  // free again after the close
  SerialClose(b);
  SerialClose(b);  // a second close is harmless
}

// A Linux pseudo-terminal keeps only part of the line settings: it always
// reports 8 data bits and clears PARENB, but keeps the rate, PARODD and
// CSTOPB. Those show that each setting went to the device.
TEST(PosixSerial, SettingsReachTheDevice) {
  Pty pty(9);
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(9, h), 0);
  ASSERT_TRUE(SerialSetSettings(h, kPlc));
  termios t{};
  ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_FALSE(t.c_cflag & PARODD);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_TRUE((t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD));
  // Plain binary transfer: no flow control, no parity checking, no line
  // editing, echo or translation, and reads that never block in the driver.
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  SerialSettings back;
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 9600u);
  EXPECT_EQ(back.dataBits, 8);
  EXPECT_EQ(back.stopBits, 1);
  EXPECT_FALSE(back.flagsSet);

  ASSERT_TRUE(SerialSetSettings(h, SerialSettings{19200, 'O', 8, 2, false}));
  ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_TRUE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 19200u);
  EXPECT_EQ(back.stopBits, 2);

  // Any other stop-bit count is one stop bit; parity letters in lower case too.
  ASSERT_TRUE(SerialSetSettings(h, SerialSettings{4800, 'e', 8, 3, false}));
  ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B4800);
  EXPECT_FALSE(t.c_cflag & (PARODD | CSTOPB));

  // A rate the line cannot run at, or a character size it has not, is
  // refused and changes nothing.
  EXPECT_FALSE(SerialSetSettings(h, SerialSettings{12345, 'E', 8, 1, false}));
  EXPECT_EQ(SerialLastError(), EINVAL);
  EXPECT_FALSE(SerialSetSettings(h, SerialSettings{9600, 'E', 9, 1, false}));
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 4800u);
  SerialClose(h);

  EXPECT_FALSE(SerialGetSettings(h, back));  // closed handle
  EXPECT_EQ(SerialLastError(), EBADF);

  // The console opens the port afresh for every menu choice: the same
  // settings must go on a line that already has them (the C library calls
  // that a failure on a pseudo-terminal, which drops the parity bit).
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(SerialOpen(9, h), 0);
    ASSERT_TRUE(SerialGetSettings(h, back));
    EXPECT_TRUE(SerialSetSettings(h, kPlc)) << "open " << i << ": " << SerialLastError();
    SerialClose(h);
  }
}

TEST(PosixSerial, ReadWaitsForCountOrTimeout) {
  Pty pty(10);
  SerialHandle h = OpenConfigured(10, 52);
  uint8_t buf[64];
  uint32_t got = 99;

  // Silent far end: nothing, after the whole time-out.
  auto t0 = Clock::now();
  ASSERT_TRUE(SerialRead(h, buf, 50, got));
  long long ms = MsSince(t0);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(ms, 52);
  EXPECT_LT(ms, 2000);

  // All asked bytes already there: back at once.
  SerialTimeouts t{};
  t.readTotalConstant = 1500;
  ASSERT_TRUE(SerialSetTimeouts(h, t));
  pty.Send("OK\r\n");
  ASSERT_EQ(WaitForBytes(h, 4), 4u);
  t0 = Clock::now();
  ASSERT_TRUE(SerialRead(h, buf, 4, got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "OK\r\n");
  EXPECT_LT(MsSince(t0), 750);

  // Bytes that come in pieces during the read are collected until the count.
  std::thread peer([&] {
    usleep(30000);
    pty.Send("12");
    usleep(30000);
    pty.Send("345");
  });
  t0 = Clock::now();
  ASSERT_TRUE(SerialRead(h, buf, 5, got));
  ms = MsSince(t0);
  peer.join();
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "12345");
  EXPECT_GE(ms, 50);
  EXPECT_LT(ms, 750);

  // Fewer bytes than asked: what came, after the time-out.
  t.readTotalConstant = 80;
  ASSERT_TRUE(SerialSetTimeouts(h, t));
  pty.Send("E1");
  ASSERT_EQ(WaitForBytes(h, 2), 2u);
  t0 = Clock::now();
  ASSERT_TRUE(SerialRead(h, buf, 50, got));
  EXPECT_EQ(got, 2u);
  EXPECT_GE(MsSince(t0), 80);

  SerialTimeouts back;
  ASSERT_TRUE(SerialGetTimeouts(h, back));
  EXPECT_EQ(back.readTotalConstant, 80u);
  SerialClose(h);
}

TEST(PosixSerial, PurgeAndBytesWaiting) {
  Pty pty(11);
  SerialHandle h = OpenConfigured(11, 20);
  uint32_t waiting = 99;
  ASSERT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);

  pty.Send("late answer\r\n");
  EXPECT_EQ(WaitForBytes(h, 13), 13u);
  ASSERT_TRUE(SerialPurge(h));
  ASSERT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);
  uint8_t buf[64];
  uint32_t got = 99;
  ASSERT_TRUE(SerialRead(h, buf, 50, got));
  EXPECT_EQ(got, 0u);
  SerialClose(h);
  EXPECT_FALSE(SerialPurge(h));
  EXPECT_FALSE(SerialClearError(h, waiting));
}

TEST(PosixSerial, WriteReachesThePeer) {
  Pty pty(12);
  SerialHandle h = OpenConfigured(12, 20);
  const std::string line = "RD DM200\r";
  uint32_t written = 0;
  ASSERT_TRUE(SerialWrite(h, reinterpret_cast<const uint8_t*>(line.data()), line.size(), written));
  EXPECT_EQ(written, line.size());
  // Raw output: the CR goes out as it is, not turned into CR LF.
  EXPECT_EQ(pty.Receive(200), line);
  SerialClose(h);
  EXPECT_FALSE(SerialWrite(h, reinterpret_cast<const uint8_t*>("x"), 1, written));
  EXPECT_EQ(written, 0u);
}

TEST(PosixSerial, VanishedPeerDoesNotSpin) {
  Pty pty(13);
  SerialHandle h = OpenConfigured(13, 20);
  pty.CloseMaster();
  uint8_t buf[64];
  uint32_t got = 0;
  int calls = 0, failures = 0;
  auto t0 = Clock::now();
  while (MsSince(t0) < 300) {
    ++calls;
    if (!SerialRead(h, buf, 50, got)) ++failures;
    EXPECT_EQ(got, 0u);
  }
  // Each failing read still takes its 20 ms: about 15 calls, not thousands.
  EXPECT_LE(calls, 18);
  EXPECT_GE(calls, 5);
  EXPECT_EQ(failures, calls);
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  uint32_t written = 0;
  EXPECT_FALSE(SerialWrite(h, reinterpret_cast<const uint8_t*>("CR\r"), 3, written));
  SerialClose(h);
}

}  // namespace
