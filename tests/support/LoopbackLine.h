// The far end of a serial line across the network, for the tests of the
// POSIX and the Win32 serial layers alike: a TCP server on loopback in the
// test's own process (raw TCP, or a scripted RFC 2217 server the test plays
// byte by byte), the port under test pointed at it through VEKTON_COM<n>,
// and the helpers that drive the port and read the server's side.
// Header only: each backend's test executable includes it once.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Serial.h"

namespace loopback {

using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
inline void CloseSocket(Socket s) { closesocket(s); }

// Winsock for the test's own server side.
struct Winsock : ::testing::Environment {
  void SetUp() override {
    WSADATA d;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
  }
};
inline const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new Winsock);
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
inline void CloseSocket(Socket s) { close(s); }
#endif

inline long long MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline void SetPort(int port, const std::string& value) {
  const std::string name = "VEKTON_COM" + std::to_string(port);
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

// Waits up to ms for s to be readable (or closed).
inline bool Readable(Socket s, int ms) {
#ifdef _WIN32
  fd_set rd;
  FD_ZERO(&rd);
  FD_SET(s, &rd);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(0, &rd, nullptr, nullptr, &tv) > 0;
#else
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
#endif
}

// A loopback socket bound to a free port, listening (with the given accept
// backlog) unless told otherwise.
struct Server {
  Socket fd = kNoSocket;
  int port = 0;

  explicit Server(bool listening = true, int backlog = 4) {
#ifdef _WIN32
    fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#else
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "bind";
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (listening && listen(fd, backlog) != 0) ADD_FAILURE() << "listen";
  }
  ~Server() { CloseSocket(fd); }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::string Url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  }
  // The next client, or kNoSocket when none came within 2 s.
  Socket Accept() const {
    if (!Readable(fd, 2000)) return kNoSocket;
#ifdef _WIN32
    return accept(fd, nullptr, nullptr);
#else
    return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
#endif
  }
};

// The server's side of one connection.
struct Peer {
  Socket fd = kNoSocket;
  explicit Peer(Socket f) : fd(f) {}
  ~Peer() { Close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void Close() {
    if (fd != kNoSocket) CloseSocket(fd);
    fd = kNoSocket;
  }
  // All of s in one send: one TCP segment on loopback, so what a test puts
  // together arrives together.
  void Send(const std::string& s) const {
#ifdef _WIN32
    ASSERT_EQ(send(fd, s.data(), static_cast<int>(s.size()), 0), static_cast<int>(s.size()));
#else
    ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
#endif
  }
  // Exactly n bytes, or what came before 2 s of silence.
  std::string Receive(size_t n) const {
    std::string out;
    char buf[256];
    while (out.size() < n && Readable(fd, 2000)) {
      const int want = static_cast<int>(std::min(sizeof buf, n - out.size()));
      const auto r = recv(fd, buf, want, 0);
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }
  // Everything that arrives until ms of silence.
  std::string Drain(int ms) const {
    std::string out;
    char buf[256];
    while (Readable(fd, ms)) {
      const auto r = recv(fd, buf, static_cast<int>(sizeof buf), 0);
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }
};

// --- the port under test ----------------------------------------------------------

// What the console sets: 9600 baud, even parity, 8 data bits, 1 stop bit.
inline const SerialSettings kPlc{9600, 'E', 8, 1, false};

inline void SetReadTimeout(SerialHandle h, uint32_t ms) {
  SerialTimeouts t{};
  t.readTotalConstant = ms;
  ASSERT_TRUE(SerialSetTimeouts(h, t));
}

inline bool Write(SerialHandle h, const std::string& s) {
  uint32_t written = 0;
  return SerialWrite(h, reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()),
                     written) &&
         written == s.size();
}

inline std::string Read(SerialHandle h, uint32_t count) {
  uint8_t buf[256];
  uint32_t got = 0;
  if (!SerialRead(h, buf, count, got)) return "<failed>";
  return std::string(reinterpret_cast<char*>(buf), got);
}

// Waits (2 s at most) until n line bytes can be read at once.
inline uint32_t WaitForBytes(SerialHandle h, uint32_t n) {
  uint32_t waiting = 0;
  for (int i = 0; i < 400 && waiting < n; ++i) {
    if (!SerialClearError(h, waiting)) return 0;
    if (waiting < n) Pause(5);
  }
  return waiting;
}

// --- what a scripted RFC 2217 server sends and expects ------------------------

// The client's opening: WILL BINARY, DO BINARY, WILL SGA, DO SGA, WILL
// COM-PORT-OPTION.
inline const std::string kOpening = "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfb\x2c"s;
// A server that agrees to all of it.
inline const std::string kAgree = "\xff\xfd\x00\xff\xfb\x00\xff\xfd\x03\xff\xfb\x03\xff\xfd\x2c"s;
// 9600 baud, 8 data bits, even parity, 1 stop bit, no flow control.
inline const std::string kSet8E1 =
    "\xff\xfa\x2c\x01\x00\x00\x25\x80\xff\xf0"
    "\xff\xfa\x2c\x02\x08\xff\xf0"
    "\xff\xfa\x2c\x03\x03\xff\xf0"
    "\xff\xfa\x2c\x04\x01\xff\xf0"
    "\xff\xfa\x2c\x05\x01\xff\xf0"s;
inline const std::string kConfirm8E1 =
    "\xff\xfa\x2c\x65\x00\x00\x25\x80\xff\xf0"
    "\xff\xfa\x2c\x66\x08\xff\xf0"
    "\xff\xfa\x2c\x67\x03\xff\xf0"
    "\xff\xfa\x2c\x68\x01\xff\xf0"
    "\xff\xfa\x2c\x69\x01\xff\xf0"s;
inline const std::string kPurgeBoth = "\xff\xfa\x2c\x0c\x03\xff\xf0"s;
inline const std::string kPurgeAnswer = "\xff\xfa\x2c\x70\x03\xff\xf0"s;

// --- scenarios both backends run ---------------------------------------------------
// Each plays one server against port `port` (VEKTON_COM<port> is set here).

// The negotiation, the line settings confirmed in two pieces, Telnet
// escaping both ways and the purge, against a scripted server on port; the
// last read may take freshWaitMs (Wine's loopback is slower).
inline void NegotiatesSetsTheLineAndEscapesFF(int port, uint32_t freshWaitMs) {
  Server server;
  SetPort(port, server.Url("rfc2217"));
  std::string opening, settings, data, purge;
  std::atomic<bool> purged{false};
  std::thread script([&] {
    Peer peer(server.Accept());
    opening = peer.Receive(kOpening.size());
    peer.Send(kAgree);
    settings = peer.Receive(kSet8E1.size());
    peer.Send(kConfirm8E1.substr(0, 12));  // the answer in two pieces
    Pause(20);
    peer.Send(kConfirm8E1.substr(12));
    // Line data with a doubled 0xFF and a Telnet command (NOP) inside.
    peer.Send("CC\xff\xff\xff\xf1\r\n"s);
    data = peer.Receive(4);
    peer.Send("stale"s);
    purge = peer.Receive(kPurgeBoth.size());
    peer.Send(kPurgeAnswer);  // the purge answered
    for (int i = 0; i < 400 && !purged; ++i) Pause(5);
    peer.Send("fresh");
    peer.Drain(300);
  });
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(port, h), 0);
  EXPECT_EQ(opening, kOpening);
  ASSERT_TRUE(SerialSetSettings(h, kPlc));
  EXPECT_EQ(settings, kSet8E1);
  SerialSettings back;
  ASSERT_TRUE(SerialGetSettings(h, back));
  EXPECT_EQ(back.baud, 9600u);
  EXPECT_EQ(back.parity, 'E');
  SetReadTimeout(h, 52);

  // Waiting bytes count line data only: 5, not the 8 received.
  EXPECT_EQ(WaitForBytes(h, 5), 5u);
  uint32_t waiting = 0;
  ASSERT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 5u);
  EXPECT_EQ(Read(h, 10), "CC\xff\r\n"s);
  ASSERT_TRUE(Write(h, "x\xffy"s));

  // Purge: the stale data is dropped here and the server asked to purge.
  EXPECT_EQ(WaitForBytes(h, 5), 5u);
  ASSERT_TRUE(SerialPurge(h));
  ASSERT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);
  purged = true;
  SetReadTimeout(h, freshWaitMs);
  EXPECT_EQ(Read(h, 5), "fresh");
  script.join();
  EXPECT_EQ(data, "x\xff\xffy"s);
  EXPECT_EQ(purge, kPurgeBoth);
  SerialClose(h);
}

// Line data that comes in the same segment as the server's negotiation: a
// device server sends what its serial line had buffered right behind its
// opening (ser2net does, after a restart), and a line confirmation can share
// a segment with an answer. None of it is lost or taken for Telnet control.
inline void DataBesideTheNegotiationIsKept(int port) {
  Server server;
  SetPort(port, server.Url("rfc2217"));
  std::string opening, settings, written;
  std::thread script([&] {
    Peer peer(server.Accept());
    opening = peer.Receive(kOpening.size());
    peer.Send(kAgree + "early\r\n");
    settings = peer.Receive(kSet8E1.size());
    peer.Send(kConfirm8E1.substr(0, 17) + "C" + kConfirm8E1.substr(17) + "C\r\n");
    written = peer.Receive(3);
    peer.Drain(300);
  });
  SerialHandle h = kInvalidSerialHandle;
  EXPECT_EQ(SerialOpen(port, h), 0);
  EXPECT_TRUE(SerialSetSettings(h, kPlc));
  SetReadTimeout(h, 52);
  EXPECT_EQ(WaitForBytes(h, 11), 11u);
  EXPECT_EQ(Read(h, 20), "early\r\nCC\r\n");
  EXPECT_TRUE(Write(h, "CR\r"));
  script.join();
  EXPECT_EQ(opening, kOpening);
  EXPECT_EQ(settings, kSet8E1);
  EXPECT_EQ(written, "CR\r");
  SerialClose(h);
}

// A server that agrees to the COM port option first and to BINARY only
// later: until then CR travels as the Telnet NVT wants it (CR NUL, and a
// NUL after a received CR is no data), from then on every byte as it is.
inline void BinaryAgreedLateSwitchesFromNvtLineEnds(int port) {
  Server server;
  SetPort(port, server.Url("rfc2217"));
  std::string before, after;
  std::atomic<bool> switched{false};
  std::thread script([&] {
    Peer peer(server.Accept());
    peer.Receive(kOpening.size());
    peer.Send("\xff\xfd\x03\xff\xfb\x03\xff\xfd\x2c"s);  // DO SGA, WILL SGA, DO COM-PORT
    peer.Receive(kSet8E1.size());
    peer.Send(kConfirm8E1 + "x\r"s + std::string(1, '\0'));
    before = peer.Receive(3);
    // BINARY both ways, with line data right behind it.
    peer.Send("\xff\xfd\x00\xff\xfb\x00y\r"s + std::string(1, '\0'));
    for (int i = 0; i < 400 && !switched; ++i) Pause(5);
    after = peer.Receive(2);
    peer.Drain(300);
  });
  SerialHandle h = kInvalidSerialHandle;
  EXPECT_EQ(SerialOpen(port, h), 0);
  EXPECT_TRUE(SerialSetSettings(h, kPlc));
  SetReadTimeout(h, 52);
  EXPECT_EQ(WaitForBytes(h, 2), 2u);
  EXPECT_EQ(Read(h, 2), "x\r");
  EXPECT_TRUE(Write(h, "A\r"));
  EXPECT_EQ(WaitForBytes(h, 3), 3u);
  EXPECT_EQ(Read(h, 3), "y\r"s + std::string(1, '\0'));
  switched = true;
  EXPECT_TRUE(Write(h, "B\r"));
  script.join();
  EXPECT_EQ(before, "A\r"s + std::string(1, '\0'));
  EXPECT_EQ(after, "B\r");
  SerialClose(h);
}

// A far end that takes nothing: once the system's buffers are full a write
// waits for room until its write time-out, then fails with the system's
// time-out code (timedOut), and the line is not taken for lost.
inline void WriteNobodyTakesTimesOutAndKeepsTheLine(int port, int timedOut) {
  Server server;
  SetPort(port, server.Url("tcp"));
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(port, h), 0);
  Peer peer(server.Accept());
  SerialTimeouts t{};
  t.writeTotalConstant = 200;
  ASSERT_TRUE(SerialSetTimeouts(h, t));
  const std::string block(1 << 20, 'x');
  uint32_t written = 0;
  bool ok = true;
  long long lastMs = 0;
  for (int i = 0; i < 64 && ok; ++i) {
    const auto t0 = Clock::now();
    ok = SerialWrite(h, reinterpret_cast<const uint8_t*>(block.data()),
                     static_cast<uint32_t>(block.size()), written);
    lastMs = MsSince(t0);
  }
  ASSERT_FALSE(ok);
  EXPECT_EQ(SerialLastError(), timedOut);
  EXPECT_LT(written, block.size());
  EXPECT_GE(lastMs, 190);
  EXPECT_LT(lastMs, 1500);
  uint32_t waiting = 0;
  EXPECT_TRUE(SerialLineUp(h));
  EXPECT_TRUE(SerialClearError(h, waiting));
  SerialClose(h);
}

}  // namespace loopback
