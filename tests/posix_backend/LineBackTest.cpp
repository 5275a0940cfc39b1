// A line that goes away under an open port and comes back: a pseudo-terminal
// whose far end closes and is made anew at the same link path, a TCP
// connection closed by its server. The port's handle stays; the platform
// reopens it, at most once a second, with the settings last set.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/Serial.h"
#include "tests/support/LoopbackLine.h"

namespace {

using namespace loopback;

// Reads until the line fails or ms have passed; true when it failed.
bool ReadFailsWithin(SerialHandle h, int ms) {
  const auto t0 = Clock::now();
  while (MsSince(t0) < ms) {
    uint8_t buf[16];
    uint32_t got = 0;
    if (!SerialRead(h, buf, sizeof buf, got)) return true;
  }
  return false;
}

// Asks for the line until it is up or ms have passed.
bool UpWithin(SerialHandle h, int ms) {
  const auto t0 = Clock::now();
  while (MsSince(t0) < ms) {
    if (SerialLineUp(h)) return true;
    Pause(20);
  }
  return false;
}

// Exactly n bytes from the pseudo-terminal's master, or what came before
// 2 s of silence.
std::string ReceiveFrom(int fd, size_t n) {
  std::string out;
  char buf[64];
  pollfd p{fd, POLLIN, 0};
  while (out.size() < n && poll(&p, 1, 2000) > 0) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

// The far end of a cable as the simulator offers it: a pseudo-terminal
// reached through a symbolic link that is pointed at a new one when it
// comes back.
struct LinkedPty {
  std::string dir, link;
  int master = -1;

  explicit LinkedPty(int port) {
    char tmpl[] = "/tmp/vekton-line-XXXXXX";
    dir = mkdtemp(tmpl);
    link = dir + "/com";
    SetPort(port, link);
    Make();
  }
  ~LinkedPty() {
    Vanish();
    rmdir(dir.c_str());
  }
  void Make() {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    ASSERT_EQ(symlink(name, link.c_str()), 0);
  }
  void Vanish() {
    if (master >= 0) close(master);
    master = -1;
    unlink(link.c_str());
  }
};

TEST(PosixLineBack, PseudoTerminalGoneAndMadeAgainAtTheSamePath) {
  LinkedPty pty(23);
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(23, h), 0);
  ASSERT_TRUE(SerialSetSettings(h, kPlc));
  SetReadTimeout(h, 20);
  ASSERT_TRUE(SerialLineUp(h));

  pty.Vanish();
  // Told apart from silence: the read fails, and so does everything after.
  EXPECT_TRUE(ReadFailsWithin(h, 500));
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  EXPECT_FALSE(Write(h, "CR\r"));
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  uint32_t waiting = 9;
  EXPECT_FALSE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);
  // A failed read still takes its time-out: a polling caller never spins.
  auto t0 = Clock::now();
  uint8_t b;
  uint32_t got = 0;
  EXPECT_FALSE(SerialRead(h, &b, 1, got));
  EXPECT_GE(MsSince(t0), 19);

  // Nothing at the path: the first try fails; the next comes a second later.
  EXPECT_FALSE(SerialLineUp(h));
  pty.Make();
  t0 = Clock::now();
  EXPECT_FALSE(SerialLineUp(h));  // within the second: not tried
  ASSERT_TRUE(UpWithin(h, 3000));
  EXPECT_GE(MsSince(t0), 700);

  // The same handle carries the new line, with the settings set before.
  ASSERT_TRUE(Write(h, "CR\r"));
  EXPECT_EQ(ReceiveFrom(pty.master, 3), "CR\r");
  termios tio{};
  ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
  // (A pseudo-terminal keeps no parity bit; the speed and size show the set.)
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  SerialTimeouts now{};
  ASSERT_TRUE(SerialGetTimeouts(h, now));
  EXPECT_EQ(now.readTotalConstant, 20u);
  SerialClose(h);
}

TEST(PosixLineBack, TcpConnectionClosedByTheServerIsMadeAgain) {
  Server server;
  SetPort(24, server.Url("tcp"));

  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(24, h), 0);
  SetReadTimeout(h, 20);
  {
    Peer first(server.Accept());
    ASSERT_NE(first.fd, kNoSocket);
  }

  EXPECT_TRUE(ReadFailsWithin(h, 1000));
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  // The server still listens: the first try connects again at once.
  ASSERT_TRUE(SerialLineUp(h));
  Peer peer(server.Accept());
  ASSERT_NE(peer.fd, kNoSocket);
  ASSERT_TRUE(Write(h, "RD DM0\r"));
  EXPECT_EQ(peer.Receive(7), "RD DM0\r");
  peer.Close();
  SerialClose(h);
}

}  // namespace
