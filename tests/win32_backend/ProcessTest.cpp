// Another program run on Windows (under Wine in CI): the command line quoted
// as the program reads it back, its output in the file, and at the deadline
// the program stopped with the processes it started.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <chrono>
#include <string>

#include "platform/Process.h"
#include "platform/TextFile.h"

namespace {

std::string System(const char* exe) {
  char dir[MAX_PATH] = {};
  GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + exe;
}
std::string Cmd() { return System("cmd.exe"); }

bool Running(const char* exe) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e{};
  e.dwSize = sizeof e;
  bool found = false;
  for (BOOL more = Process32First(snap, &e); more && !found; more = Process32Next(snap, &e))
    found = _stricmp(e.szExeFile, exe) == 0;
  CloseHandle(snap);
  return found;
}

TEST(Win32Process, QuotedArgumentsOutputExitStatusAndTheDeadline) {
  std::string folder;
  ASSERT_EQ(TempFolderCreate(folder), 0);
  const std::string log = folder + "\\out put.log";
  // cmd's echo shows the command line as it came: the blank kept inside quotes.
  ProgramOutcome o = RunProgram(Cmd(), {"/c", "echo", "a b", "end"}, log, 20000);
  EXPECT_EQ(o.error, 0);
  EXPECT_EQ(o.exitCode, 0);
  std::string text;
  ASSERT_EQ(FileReadAll(log, text, 4096), 0);
  EXPECT_EQ(text, "\"a b\" end\r\n");
  EXPECT_EQ(RunProgram(Cmd(), {"/c", "exit 7"}, log, 20000).exitCode, 7);
  EXPECT_NE(RunProgram(folder + "\\none.exe", {}, log, 20000).error, 0);

  const auto start = std::chrono::steady_clock::now();
  o = RunProgram(Cmd(), {"/c", System("ping.exe") + " -n 60 127.0.0.1"}, log, 1500);
  EXPECT_TRUE(o.timedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  Sleep(200);
  EXPECT_FALSE(Running("ping.exe")) << "the program's helper outlived the run";

  TempFolderRemove(folder);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
