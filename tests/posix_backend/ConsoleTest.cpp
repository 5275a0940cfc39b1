// The console's ways out and its keyboard, each in a child process: the
// headless fallback on piped input, termination signals during the different
// waits, and the ncurses presenter on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Crt.h"
#include "platform/Platform.h"
#include "platform/ScreenModel.h"
#include "platform/Serial.h"
#include "tests/posix_backend/ChildProcess.h"

namespace {

int gReport = -1;  // the child's line back to the test

void Report(const std::string& s) { (void)!write(gReport, s.data(), s.size()); }
void HookA() { Report("A"); }
void HookB() { Report("B"); }

TEST(PosixConsole, HeadlessKeysAreStdinAndItsEndExits) {
  int in[2], rep[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(rep), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    gReport = rep[1];
    PlatformInit();
    PlatformAddExitHook(HookA);
    PlatformAddExitHook(HookB);
    for (;;) {
      uint8_t k = ReadKey();
      Report(std::string(1, static_cast<char>(k)));
    }
  }
  close(in[0]);
  close(rep[1]);
  const std::string keys("a\x1b\0z\r", 5);
  ASSERT_EQ(write(in[1], keys.data(), keys.size()), 5);
  close(in[1]);
  EXPECT_EQ(WaitExit(pid, 3000), 129);
  // Every byte as it was, then the hooks, newest first.
  EXPECT_EQ(ReadReport(rep[0], 7, 1000), keys + "BA");
  close(rep[0]);
}

enum class WaitKind { Delay, ReadKey, KeyPoll, SerialRead };

// Starts a child that waits in the given way and sends it sig once waiting.
void ExpectSignalEndsWait(WaitKind kind, int sig) {
  int in[2], rep[2];
  ASSERT_EQ(pipe(in), 0);  // stdin stays open and silent
  ASSERT_EQ(pipe(rep), 0);
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  setenv("VEKTON_COM20", name, 1);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    gReport = rep[1];
    PlatformInit();
    PlatformAddExitHook(HookA);
    PlatformAddExitHook(HookB);
    SerialHandle h = kInvalidSerialHandle;
    SerialOpen(20, h);
    SerialSetSettings(h, SerialSettings{9600, 'E', 8, 1, false});
    SerialTimeouts t{};
    t.readTotalConstant = 52;
    SerialSetTimeouts(h, t);
    Report("R");
    uint8_t buf[50];
    uint32_t got;
    for (;;) {
      switch (kind) {
        case WaitKind::Delay: Delay(60000); break;
        case WaitKind::ReadKey: ReadKey(); break;
        case WaitKind::KeyPoll: KeyPressed(); Delay(1); break;
        case WaitKind::SerialRead: SerialRead(h, buf, 50, got); break;
      }
    }
  }
  close(rep[1]);
  EXPECT_EQ(ReadReport(rep[0], 1, 3000), "R");
  usleep(50000);
  auto t0 = std::chrono::steady_clock::now();
  kill(pid, sig);
  EXPECT_EQ(WaitExit(pid, 3000), 128 + sig);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  EXPECT_EQ(ReadReport(rep[0], 2, 1000), "BA");
  close(rep[0]);
  close(in[0]);
  close(in[1]);
  close(master);
  close(slave);
}

TEST(PosixConsole, SignalsEndEveryWaitCleanly) {
  ExpectSignalEndsWait(WaitKind::Delay, SIGTERM);
  ExpectSignalEndsWait(WaitKind::ReadKey, SIGINT);
  ExpectSignalEndsWait(WaitKind::KeyPoll, SIGHUP);
  ExpectSignalEndsWait(WaitKind::SerialRead, SIGTERM);
}

// Collects everything the child draws on the terminal.
class TerminalOutput {
 public:
  explicit TerminalOutput(int master) : master_(master), thread_([this] { Run(); }) {}
  ~TerminalOutput() {
    stop_ = true;
    thread_.join();
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  void Run() {
    char buf[4096];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(buf, static_cast<size_t>(n));
    }
  }
  int master_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

TEST(PosixConsole, TerminalShowsGlyphsAndDecodesKeys) {
  int rep[2];
  ASSERT_EQ(pipe(rep), 0);
  int master = -1;
  winsize ws{};
  ws.ws_row = 25;
  ws.ws_col = 80;
  pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(rep[0]);
    gReport = rep[1];
    setenv("TERM", "xterm-256color", 1);
    PlatformInit();
    TextColor(14);
    TextBackground(4);
    GotoXY(3, 2);
    WriteText("\x01\xb3\xdb Hi\x07");
    FlushOutput();
    Report("D");
    for (;;) {
      uint8_t k = ReadKey();
      Report(std::string(1, static_cast<char>(k)));
      if (k == 'q') break;
    }
    PlatformShutdown();
    Report("E");
    _exit(0);
  }
  close(rep[1]);
  TerminalOutput out(master);
  ASSERT_EQ(ReadReport(rep[0], 1, 5000), "D");
  std::string screen;
  for (int i = 0; i < 100 && screen.find(" Hi") == std::string::npos; ++i) {
    usleep(20000);
    screen = out.Text();
  }
  // The control byte 1 and the box and block bytes arrive as their glyphs,
  // in yellow (bright 11) on red (1), and the bell rings.
  EXPECT_NE(screen.find("\u263A\u2502\u2588 Hi"), std::string::npos);
  EXPECT_EQ(screen.find('\x01'), std::string::npos);
  EXPECT_NE(screen.find("\x1b[93m"), std::string::npos);
  EXPECT_NE(screen.find("\x1b[41m"), std::string::npos);
  EXPECT_NE(screen.find('\x07'), std::string::npos);

  auto send = [&](const std::string& s) {
    ASSERT_EQ(write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    usleep(80000);
  };
  send("\x1bOA");     // Up
  send("\x1b[24~");   // F12
  send("\x1b[3~");    // Del
  send("\xc3\xa9");   // e acute, CP437 130
  send("\xe2\x82\xac");  // the euro sign has no CP437 glyph: dropped
  send("\x7f");       // Backspace
  send("\r");         // Enter
  send("\x1b");       // a lone Esc
  send("q");
  const std::string expect("\0H\0\x86\0S\x82\x08\x0d\x1bq", 11);
  EXPECT_EQ(ReadReport(rep[0], expect.size() + 1, 3000), expect + "E");
  EXPECT_EQ(WaitExit(pid, 3000), 0);
  // The terminal was given back (the alternate screen left).
  EXPECT_NE(out.Text().find("\x1b[?1049l"), std::string::npos);
  close(rep[0]);
  close(master);
}

}  // namespace
