// PlatformWait on POSIX, the console's one way to sleep (platform/Crt.h): it
// ends on a key, on line bytes (a pseudo-terminal, a raw TCP socket, an RFC
// 2217 connection) or at its deadline, whichever comes first, and costs
// nothing while it sleeps. A line that only wakes poll (Telnet control and
// no data, a closed connection, a hung-up terminal) neither ends the wait as
// "bytes" nor makes it spin: the wait runs to its deadline on little
// processor time. Processor time is the waiting thread's own, so a peer
// thread in the same process does not count.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Crt.h"
#include "platform/Platform.h"
#include "platform/Serial.h"
#include "tests/posix_backend/ChildProcess.h"
#include "tests/support/LoopbackLine.h"

namespace {

using namespace loopback;

double ThreadCpuMs() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

struct Waited {
  WakeReason why;
  long long ms;   // wall time
  double cpuMs;   // the waiting thread's processor time
};

Waited TimedWait(uint32_t maxMs, SerialHandle line) {
  const double cpu0 = ThreadCpuMs();
  const auto t0 = Clock::now();
  const WakeReason why = PlatformWait(maxMs, line);
  return {why, MsSince(t0), ThreadCpuMs() - cpu0};
}

const char* Name(WakeReason r) {
  switch (r) {
    case WakeReason::kKey: return "key";
    case WakeReason::kLine: return "line";
    case WakeReason::kDeadline: return "deadline";
  }
  return "?";
}

// A wait that must run to its deadline and sleep on the way: the whole time,
// and at most a fifth of it on the processor (a wait that spins takes all).
void ExpectQuietDeadline(const Waited& w, uint32_t maxMs, const char* what) {
  EXPECT_EQ(Name(w.why), std::string("deadline")) << what;
  EXPECT_GE(w.ms, static_cast<long long>(maxMs)) << what;
  EXPECT_LT(w.ms, static_cast<long long>(maxMs) + 500) << what;
  EXPECT_LT(w.cpuMs, maxMs / 5.0) << what;
}

TEST(PosixWait, NothingToWaitForEndsAtTheDeadline) {
  // No keyboard before PlatformInit, no line: the deadline alone.
  ExpectQuietDeadline(TimedWait(150, kInvalidSerialHandle), 150, "no line");
  Waited w = TimedWait(0, kInvalidSerialHandle);
  EXPECT_EQ(Name(w.why), std::string("deadline"));
  EXPECT_LT(w.ms, 50);
}

TEST(PosixWait, BytesOnAPseudoTerminal) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  SetPort(40, name);
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(40, h), 0);
  ASSERT_TRUE(SerialSetSettings(h, kPlc));
  SetReadTimeout(h, 52);

  ExpectQuietDeadline(TimedWait(120, h), 120, "quiet terminal");
  std::thread late([&] {
    Pause(80);
    (void)!write(master, "OK\r\n", 4);
  });
  Waited w = TimedWait(3000, h);
  late.join();
  EXPECT_EQ(Name(w.why), std::string("line"));
  EXPECT_GE(w.ms, 60);
  EXPECT_LT(w.ms, 1500);
  // Bytes already there end it at once, as often as it is asked.
  for (int i = 0; i < 3; ++i) {
    w = TimedWait(3000, h);
    EXPECT_EQ(Name(w.why), std::string("line"));
    EXPECT_LT(w.ms, 50);
  }
  EXPECT_EQ(Read(h, 4), "OK\r\n");
  ExpectQuietDeadline(TimedWait(120, h), 120, "read empty again");

  // The far end hangs up: the terminal polls as ready for ever with nothing
  // to read. The wait runs to its deadline without spinning.
  close(master);
  ExpectQuietDeadline(TimedWait(300, h), 300, "hung-up terminal");
  SerialClose(h);
  close(slave);
}

TEST(PosixWait, BytesOnARawTcpLine) {
  Server server;
  SetPort(41, server.Url("tcp"));
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(41, h), 0);
  Peer peer(server.Accept());
  ASSERT_NE(peer.fd, kNoSocket);
  SetReadTimeout(h, 52);

  ExpectQuietDeadline(TimedWait(120, h), 120, "quiet socket");
  std::thread late([&] {
    Pause(80);
    peer.Send("CC\r\n");
  });
  Waited w = TimedWait(3000, h);
  late.join();
  EXPECT_EQ(Name(w.why), std::string("line"));
  EXPECT_GE(w.ms, 60);
  EXPECT_LT(w.ms, 1500);
  EXPECT_EQ(Read(h, 4), "CC\r\n");

  // Closed by the peer: readable at its end of file for ever, and no data.
  peer.Close();
  ExpectQuietDeadline(TimedWait(300, h), 300, "closed connection");
  EXPECT_EQ(Read(h, 4), "<failed>");
  ExpectQuietDeadline(TimedWait(200, h), 200, "failed line");
  SerialClose(h);
}

TEST(PosixWait, TelnetControlAloneIsNoDataAndNeverSpins) {
  Server server;
  SetPort(42, server.Url("rfc2217"));
  std::atomic<bool> flood{false}, fast{false}, stop{false}, dataNow{false};
  std::string answers;
  std::thread script([&] {
    Peer peer(server.Accept());
    peer.Receive(kOpening.size());
    peer.Send(kAgree);
    peer.Receive(kSet8E1.size());
    peer.Send(kConfirm8E1);
    // Control only: NOPs, a modem-state notification, a request to echo
    // (refused once), go-aheads.
    peer.Send("\xff\xf1\xff\xf1\xff\xfa\x2c\x6b\x30\xff\xf0\xff\xfb\x01\xff\xf9"s);
    while (!flood && !stop) Pause(2);
    // A peer that sends nothing but Telnet control, a few NOPs every 200
    // microseconds, then as fast as it can write.
    const std::string nops = "\xff\xf1\xff\xf1\xff\xf1\xff\xf1"s;
    while (!dataNow && !stop) {
      if (send(peer.fd, nops.data(), nops.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) Pause(1);
      if (!fast) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!stop) peer.Send("CC\r\n");
    answers = peer.Drain(300);
  });
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(SerialOpen(42, h), 0);
  ASSERT_TRUE(SerialSetSettings(h, kPlc));
  SetReadTimeout(h, 52);

  ExpectQuietDeadline(TimedWait(300, h), 300, "control bytes once");
  uint32_t waiting = 9;
  EXPECT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);

  flood = true;
  Pause(50);
  for (int i = 0; i < 3; ++i) {
    const Waited w = TimedWait(300, h);
    EXPECT_EQ(Name(w.why), std::string("deadline")) << "control is no data, look " << i;
    EXPECT_GE(w.ms, 300);
    EXPECT_LT(w.ms, 800);
    // It wakes for the bytes and decodes them, but rests between looks.
    EXPECT_LT(w.cpuMs, 300 / 2.0) << "look " << i;
  }
  EXPECT_TRUE(SerialClearError(h, waiting));
  EXPECT_EQ(waiting, 0u);
  // As fast as the connection carries it: decoding costs what it costs, but
  // the wait still ends at its deadline, not later and not as "bytes".
  fast = true;
  for (int i = 0; i < 2; ++i) {
    const Waited w = TimedWait(300, h);
    EXPECT_EQ(Name(w.why), std::string("deadline")) << "flood, look " << i;
    EXPECT_GE(w.ms, 300);
    EXPECT_LT(w.ms, 800);
  }

  // Data behind the control still ends the wait as line bytes.
  dataNow = true;
  Waited w = TimedWait(3000, h);
  EXPECT_EQ(Name(w.why), std::string("line"));
  EXPECT_LT(w.ms, 1500);
  EXPECT_EQ(WaitForBytes(h, 4), 4u);
  EXPECT_EQ(Read(h, 4), "CC\r\n");
  stop = true;
  script.join();
  // The echo request was refused once; NOPs and go-aheads got no answer.
  EXPECT_EQ(answers, "\xff\xfe\x01"s);
  SerialClose(h);
}

// Keys: in a child that owns its stdin (a pipe: the headless keyboard).
TEST(PosixWait, KeyEndsTheWaitAndAPendingKeyEndsItAtOnce) {
  int in[2], rep[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(rep), 0);
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  SetPort(43, name);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    close(rep[0]);
    PlatformInit();
    SerialHandle h = kInvalidSerialHandle;
    SerialOpen(43, h);
    auto report = [&](const Waited& w) {
      const std::string s = std::string(Name(w.why)) + " " + std::to_string(w.ms) + "\n";
      (void)!write(rep[1], s.data(), s.size());
    };
    (void)!write(rep[1], "R\n", 2);
    report(TimedWait(5000, h));                      // the key comes after 100 ms
    report(TimedWait(5000, h));                      // still pending: at once
    ReadKey();
    report(TimedWait(150, kInvalidSerialHandle));    // taken: the deadline
    _exit(0);
  }
  close(in[0]);
  close(rep[1]);
  auto readLine = [&](int ms) {
    std::string s;
    char c;
    const auto t0 = Clock::now();
    while (MsSince(t0) < ms) {
      pollfd p{rep[0], POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      if (read(rep[0], &c, 1) != 1) break;
      if (c == '\n') return s;
      s += c;
    }
    return s + "<timeout>";
  };
  EXPECT_EQ(readLine(3000), "R");
  Pause(100);
  ASSERT_EQ(write(in[1], "k", 1), 1);
  const std::string first = readLine(3000);
  EXPECT_EQ(first.substr(0, 4), "key ") << first;
  EXPECT_GE(std::atoi(first.c_str() + 4), 60) << first;
  EXPECT_LT(std::atoi(first.c_str() + 4), 1500) << first;
  const std::string second = readLine(3000);
  EXPECT_EQ(second.substr(0, 4), "key ") << second;
  EXPECT_LT(std::atoi(second.c_str() + 4), 50) << second;
  const std::string third = readLine(3000);
  EXPECT_EQ(third.substr(0, 9), "deadline ") << third;
  EXPECT_GE(std::atoi(third.c_str() + 9), 150) << third;
  WaitExit(pid, 2000);
  close(in[1]);
  close(rep[0]);
  close(master);
  close(slave);
}

}  // namespace
