// The Win32 serial port across the network (Winsock; under Wine in CI):
// VEKTON_COM<n> names tcp:// or rfc2217:// and the port under test connects
// to a server in this process, on loopback only (tests/support/
// LoopbackLine.h). The test holds the server's side of the connection as
// the far end of the line.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/Serial.h"
#include "tests/support/LoopbackLine.h"

namespace {

using namespace loopback;

TEST(Win32NetSerial, RawTcpCarriesTheLineBytesWithTheReadTimeout) {
  Server server;
  SetPort(20, server.Url("tcp"));
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(20, h), 0);
  Peer peer(server.Accept());
  ASSERT_NE(peer.fd, INVALID_SOCKET);

  // No line to set: what is set is accepted and read back, as a device would.
  ASSERT_TRUE(SerialSetSettings(h, SerialSettings{9600, 'e', 8, 3, false}));
  SerialSettings back;
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 9600u);
  EXPECT_EQ(back.parity, 'E');
  EXPECT_EQ(back.stopBits, 1);
  EXPECT_FALSE(SerialSetSettings(h, SerialSettings{0, 'E', 8, 1, false}));
  EXPECT_EQ(SerialLastError(), ERROR_INVALID_PARAMETER);
  SetReadTimeout(h, 52);
  SerialTimeouts t;
  ASSERT_TRUE(SerialGetTimeouts(h, t));
  EXPECT_EQ(t.readTotalConstant, 52u);

  // Every byte value passes untouched both ways: CR stays CR, 0xFF single.
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
  // Bytes that come in pieces are collected until the count, and the read
  // returns when they have come, not at its time-out.
  std::thread late([&] {
    Pause(20);
    peer.Send("CC");
    Pause(20);
    peer.Send("\r\n");
  });
  SetReadTimeout(h, 2500);
  auto t0 = Clock::now();
  EXPECT_EQ(Read(h, 4), "CC\r\n");
  EXPECT_LT(MsSince(t0), 2000);
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
  EXPECT_EQ(SerialOpen(20, second), ERROR_ACCESS_DENIED);
  EXPECT_EQ(second, kInvalidSerialHandle);
  SerialClose(h);
  EXPECT_FALSE(SerialClearError(h, waiting));
  EXPECT_EQ(SerialLastError(), ERROR_INVALID_HANDLE);
}

TEST(Win32NetSerial, LostConnectionActsAsAVanishedLineAndTheNextOpenConnects) {
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
  EXPECT_GE(calls, 2);
  EXPECT_EQ(failures, calls);
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  EXPECT_FALSE(Write(h, "CR\r"));
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);

  // The server still listens: the platform connects again under the same
  // handle at its first try.
  ASSERT_TRUE(SerialLineUp(h));
  {
    Peer back(server.Accept());
    ASSERT_TRUE(Write(h, "RD DM0\r"));
    EXPECT_EQ(back.Receive(7), "RD DM0\r");
  }
  EXPECT_EQ(Read(h, 4), "<failed>");
  EXPECT_EQ(SerialLastError(), kSerialErrLineLost);
  SerialClose(h);

  // The next open (the menu's next choice) connects afresh.
  ASSERT_EQ(SerialOpen(21, h), 0);
  Peer again(server.Accept());
  ASSERT_TRUE(Write(h, "CR\r"));
  EXPECT_EQ(again.Receive(3), "CR\r");
  SerialClose(h);
}

TEST(Win32NetSerial, ConnectFailuresGiveTheirCodes) {
  SerialHandle h = 42;
  {  // a bound port that does not listen refuses
    Server closed(false);
    SetPort(22, closed.Url("tcp"));
    auto t0 = Clock::now();
    EXPECT_EQ(SerialOpen(22, h), WSAECONNREFUSED);
    EXPECT_LT(MsSince(t0), 3500);
    EXPECT_EQ(h, kInvalidSerialHandle);
    EXPECT_EQ(SerialLastError(), 10061);
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
  EXPECT_EQ(SerialLastError(), 20001);

  for (const char* bad : {"tcp://127.0.0.1", "tcp://::1:5000", "rfc2217://127.0.0.1:0",
                          "TCP://127.0.0.1:50x0"}) {
    SetPort(22, bad);
    EXPECT_EQ(SerialOpen(22, h), kSerialErrBadAddress) << bad;
    EXPECT_EQ(h, kInvalidSerialHandle);
  }
  // Anything else leaves the port what it always was: COMn, which no test
  // machine has as COM22.
  SetPort(22, "/dev/ttyS21");
  EXPECT_EQ(SerialOpen(22, h), ERROR_FILE_NOT_FOUND);

  // A name, looked up off the waiting thread; the scheme in any case.
  Server server;
  SetPort(22, "TCP://localhost:" + std::to_string(server.port) + "/");
  ASSERT_EQ(SerialOpen(22, h), 0);
  SerialClose(h);
  SetPort(22, "");
}

TEST(Win32NetSerial, WriteThatNobodyTakesTimesOutAndKeepsTheLine) {
  WriteNobodyTakesTimesOutAndKeepsTheLine(28, WSAETIMEDOUT);
}

// --- RFC 2217 -----------------------------------------------------------------------

TEST(Win32NetSerial, Rfc2217NegotiatesSetsTheLineAndEscapesFF) { NegotiatesSetsTheLineAndEscapesFF(24, 2500); }

TEST(Win32NetSerial, Rfc2217ServerThatRefusesIsNotUsed) {
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
    EXPECT_LT(MsSince(t0), 2500);
    EXPECT_EQ(h, kInvalidSerialHandle);
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
    EXPECT_LT(ms, 3000);
    SerialClose(h);
    script.join();
  }
}

TEST(Win32NetSerial, Rfc2217DataBesideTheNegotiationIsKept) { DataBesideTheNegotiationIsKept(26); }

TEST(Win32NetSerial, Rfc2217BinaryAgreedLateSwitchesFromNvtLineEnds) {
  BinaryAgreedLateSwitchesFromNvtLineEnds(27);
}

}  // namespace
