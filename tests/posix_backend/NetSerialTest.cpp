// The POSIX serial port across the network: VEKTON_COM<n> names tcp:// or
// rfc2217:// and the port under test connects to a server in this process,
// on loopback only (tests/support/LoopbackLine.h). The test holds the
// server's side of the connection as the far end of the line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/Serial.h"
#include "tests/support/LoopbackLine.h"

namespace {

using namespace loopback;

TEST(NetSerial, RawTcpCarriesTheLineBytesWithTheReadTimeout) {
  Server server;
  SetPort(20, server.Url("tcp"));
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(20, h), 0);
  Peer peer(server.Accept());
  ASSERT_GE(peer.fd, 0);

  // No line to set: what is set is accepted and read back, as a device would.
  ASSERT_TRUE(SerialSetSettings(h, SerialSettings{9600, 'e', 8, 3, false}));
  SerialSettings back;
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 9600u);
  EXPECT_EQ(back.parity, 'E');
  EXPECT_EQ(back.dataBits, 8);
  EXPECT_EQ(back.stopBits, 1);
  EXPECT_FALSE(SerialSetSettings(h, SerialSettings{0, 'E', 8, 1, false}));
  EXPECT_EQ(SerialLastError(), EINVAL);
  SetReadTimeout(h, 52);

  // Every byte value passes untouched both ways: CR is not turned into CR LF,
  // 0xFF is not doubled.
  const std::string line = "RD DM0\r\xff\x00\n"s;
  ASSERT_TRUE(Write(h, line));
  EXPECT_EQ(peer.Receive(line.size()), line);
  peer.Send("00123\r\n\xff"s);
  EXPECT_EQ(WaitForBytes(h, 8), 8u);
  EXPECT_EQ(Read(h, 8), "00123\r\n\xff"s);

  // A silent line: one byte asked, nothing after the whole 52 ms.
  for (int i = 0; i < 3; ++i) {
    auto t0 = Clock::now();
    EXPECT_EQ(Read(h, 1), "");
    const long long ms = MsSince(t0);
    EXPECT_GE(ms, 52);
    EXPECT_LT(ms, 1000);
  }
  // Bytes that come in pieces are collected until the count.
  std::thread late([&] {
    usleep(20000);
    peer.Send("CC");
    usleep(20000);
    peer.Send("\r\n");
  });
  SetReadTimeout(h, 1500);
  auto t0 = Clock::now();
  EXPECT_EQ(Read(h, 4), "CC\r\n");
  EXPECT_LT(MsSince(t0), 1000);
  late.join();

  // Purge drops what arrived unread.
  peer.Send("stale answer\r\n");
  EXPECT_EQ(WaitForBytes(h, 14), 14u);
  ASSERT_TRUE(SerialPurge(h));
  uint32_t waiting = 99;
  ASSERT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);

  // One connection per port, as a device is opened exclusively.
  SerialHandle second = 42;
  EXPECT_EQ(SerialOpen(20, second), EBUSY);
  EXPECT_EQ(second, kInvalidSerialHandle);
  SerialClose(h);
  EXPECT_FALSE(SerialRead(h, nullptr, 0, waiting));
}

TEST(NetSerial, LostConnectionActsAsAVanishedLineAndTheNextOpenConnects) {
  Server server;
  SetPort(21, server.Url("tcp"));
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(21, h), 0);
  SetReadTimeout(h, 20);
  {
    Peer peer(server.Accept());
    peer.Send("OK\r\n");
    EXPECT_EQ(WaitForBytes(h, 4), 4u);
  }  // the peer closes with an answer unread

  // What came before the close is still delivered, then the line is dead:
  // every read fails after its time-out (no spinning), every write fails.
  EXPECT_EQ(Read(h, 4), "OK\r\n");
  int calls = 0, failures = 0;
  auto t0 = Clock::now();
  while (MsSince(t0) < 300) {
    ++calls;
    uint8_t buf[8];
    uint32_t got = 9;
    if (!SerialRead(h, buf, 8, got)) ++failures;
    EXPECT_EQ(got, 0u);
  }
  EXPECT_LE(calls, 18);
  EXPECT_GE(calls, 5);
  EXPECT_EQ(failures, calls);
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  EXPECT_FALSE(Write(h, "CR\r"));
  uint32_t waiting = 9;
  SerialClearError(h, waiting);
  EXPECT_EQ(waiting, 0u);
  SerialClose(h);

  // The next open (the menu's next choice) connects afresh.
  ASSERT_EQ(SerialOpen(21, h), 0);
  Peer again(server.Accept());
  ASSERT_TRUE(Write(h, "CR\r"));
  EXPECT_EQ(again.Receive(3), "CR\r");
  SerialClose(h);
}

TEST(NetSerial, ConnectFailuresGiveTheirCodes) {
  SerialHandle h = 42;
  {  // a bound port that does not listen refuses at once
    Server closed(false);
    SetPort(22, closed.Url("tcp"));
    EXPECT_EQ(SerialOpen(22, h), ECONNREFUSED);
    EXPECT_EQ(h, kInvalidSerialHandle);
    EXPECT_EQ(SerialLastError(), ECONNREFUSED);
  }
  SetPort(22, "tcp://no-such-store.invalid:5000");
  auto t0 = Clock::now();
  EXPECT_EQ(SerialOpen(22, h), kSerialErrHostNotFound);
  EXPECT_LT(MsSince(t0), 1000);
  // A name under .invalid is never looked up, with the root's dot too.
  SetPort(22, "tcp://Store.INVALID.:5000");
  t0 = Clock::now();
  EXPECT_EQ(SerialOpen(22, h), kSerialErrHostNotFound);
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_STREQ(SerialErrorText(kSerialErrHostNotFound), "host not found");
  EXPECT_EQ(SerialErrorText(ECONNREFUSED), nullptr);

  for (const char* bad : {"tcp://127.0.0.1", "tcp://127.0.0.1:", "tcp://:5000", "tcp://::1:5000",
                          "rfc2217://127.0.0.1:0", "tcp://127.0.0.1:65536",
                          "tcp://[::1]5000", "TCP://127.0.0.1:50x0", "tcp://a b:5000"}) {
    SetPort(22, bad);
    EXPECT_EQ(SerialOpen(22, h), kSerialErrBadAddress) << bad;
    EXPECT_EQ(h, kInvalidSerialHandle);
  }

  // A name, looked up off the waiting thread: localhost may give ::1 first,
  // which refuses; the next address takes the connection.
  Server server;
  SetPort(22, "TCP://localhost:" + std::to_string(server.port) + "/");
  ASSERT_EQ(SerialOpen(22, h), 0);
  SerialClose(h);
}

// A server whose accept queue is full never answers the handshake: the
// attempt gives up after its 3 s.
TEST(NetSerial, ConnectThatHangsEndsWithinThreeSeconds) {
  Server server(true, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 16; ++i) {  // fill the queue until a handshake stalls
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(server.port));
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) break;
  }
  SetPort(23, server.Url("tcp"));
  SerialHandle h = 42;
  auto t0 = Clock::now();
  EXPECT_EQ(SerialOpen(23, h), ETIMEDOUT);
  const long long ms = MsSince(t0);
  EXPECT_GE(ms, 2900);
  EXPECT_LT(ms, 4500);
  for (int fd : fillers) close(fd);
}

TEST(NetSerial, WriteThatNobodyTakesTimesOutAndKeepsTheLine) {
  WriteNobodyTakesTimesOutAndKeepsTheLine(28, ETIMEDOUT);
}

// --- RFC 2217 -----------------------------------------------------------------------

TEST(NetSerial, Rfc2217NegotiatesSetsTheLineAndEscapesFF) { NegotiatesSetsTheLineAndEscapesFF(24, 1500); }

TEST(NetSerial, Rfc2217ServerThatRefusesOrStaysSilentIsNotUsed) {
  Server server;
  SetPort(25, server.Url("rfc2217"));
  SerialHandle h = 42;
  {  // a plain Telnet server: DONT COM-PORT-OPTION
    std::thread script([&] {
      Peer peer(server.Accept());
      peer.Receive(kOpening.size());
      peer.Send("\xff\xfd\x00\xff\xfb\x00\xff\xfe\x2c"s);
      peer.Drain(300);
    });
    auto t0 = Clock::now();
    EXPECT_EQ(SerialOpen(25, h), kSerialErrComPortRefused);
    EXPECT_LT(MsSince(t0), 1500);
    EXPECT_EQ(h, kInvalidSerialHandle);
    script.join();
  }
  {  // accepts the connection and never says a word
    std::thread script([&] {
      Peer peer(server.Accept());
      peer.Drain(3500);
    });
    auto t0 = Clock::now();
    EXPECT_EQ(SerialOpen(25, h), kSerialErrNoTelnetAnswer);
    const long long ms = MsSince(t0);
    EXPECT_GE(ms, 2900);
    EXPECT_LT(ms, 4500);
    script.join();
  }
  {  // agrees, but answers the settings with another rate, then not at all
    std::thread script([&] {
      Peer peer(server.Accept());
      peer.Receive(kOpening.size());
      peer.Send(kAgree);
      peer.Receive(kSet8E1.size());
      peer.Send("\xff\xfa\x2c\x65\x00\x00\x4b\x00\xff\xf0"s);  // 19200
      peer.Receive(kSet8E1.size());
      peer.Drain(1500);
    });
    ASSERT_EQ(SerialOpen(25, h), 0);
    EXPECT_FALSE(SerialSetSettings(h, kPlc));
    EXPECT_EQ(SerialLastError(), kSerialErrLineRefused);
    auto t0 = Clock::now();
    EXPECT_FALSE(SerialSetSettings(h, kPlc));
    EXPECT_EQ(SerialLastError(), kSerialErrLineRefused);
    const long long ms = MsSince(t0);
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 2500);
    SerialClose(h);
    script.join();
  }
}

TEST(NetSerial, Rfc2217DataBesideTheNegotiationIsKept) { DataBesideTheNegotiationIsKept(26); }

TEST(NetSerial, Rfc2217BinaryAgreedLateSwitchesFromNvtLineEnds) {
  BinaryAgreedLateSwitchesFromNvtLineEnds(27);
}

}  // namespace
