// The Win32 backend on the real system calls (under Wine in CI): port names
// and failures, the keys a console reports turned into DOS codes, result
// files, the file search and the environment.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "comLib3/comLib3.h"
#include "platform/ScreenModel.h"
#include "platform/Serial.h"
#include "platform/System.h"
#include "platform/TextFile.h"
#include "platform/win32/Win32Internal.h"

namespace {

TEST(Win32Serial, PortNamesUseTheDeviceNamespaceFromTenOn) {
  EXPECT_EQ(win32::SerialDeviceName(1), "COM1");
  EXPECT_EQ(win32::SerialDeviceName(3), "COM3");
  EXPECT_EQ(win32::SerialDeviceName(9), "COM9");
  EXPECT_EQ(win32::SerialDeviceName(10), "\\\\.\\COM10");
  EXPECT_EQ(win32::SerialDeviceName(12), "\\\\.\\COM12");
  EXPECT_EQ(win32::SerialDeviceName(128), "\\\\.\\COM128");
}

TEST(Win32Serial, PortsThatCannotOpenReportTheSystemCode) {
  // Outside the table: no device of that number.
  for (int port : {0, -1, 129, 1000}) {
    SerialHandle h = 123;
    EXPECT_EQ(SerialOpen(port, h), ERROR_FILE_NOT_FOUND) << port;
    EXPECT_EQ(h, kInvalidSerialHandle);
  }
  // Nothing is mapped to COM97 on a test machine.
  SerialHandle h = 123;
  EXPECT_EQ(SerialOpen(97, h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, kInvalidSerialHandle);
  EXPECT_EQ(SerialLastError(), ERROR_FILE_NOT_FOUND);

  // Through the serial link: the message, and a key wait (no keyboard here,
  // so it ends at once) before the code is returned.
  ComLib3Init();
  gScreen.Reset();
  EXPECT_EQ(ComOpen(97, 9600, 'E', 8, 1), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(gScreen.Row(1).substr(0, 28), "Invalid Port Number: 97   E2");
  EXPECT_EQ(PortHandles[97], kInvalidSerialHandle);
}

TEST(Win32Serial, CallsOnAHandleThatIsNotOpenFailHarmlessly) {
  const SerialHandle bogus = 0x1234;
  SerialSettings s;
  SerialTimeouts t;
  uint32_t n = 7;
  uint8_t b = 0;
  EXPECT_FALSE(SerialGetSettings(bogus, s));
  EXPECT_FALSE(SerialSetSettings(bogus, s));
  EXPECT_FALSE(SerialGetTimeouts(bogus, t));
  EXPECT_FALSE(SerialSetTimeouts(bogus, t));
  EXPECT_FALSE(SerialPurge(bogus));
  EXPECT_FALSE(SerialClearError(bogus, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SerialRead(bogus, &b, 1, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SerialWrite(bogus, &b, 1, n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SerialLastError(), ERROR_INVALID_HANDLE);
  SerialClose(bogus);
  SerialClose(kInvalidSerialHandle);
}

KEY_EVENT_RECORD Key(WORD vk, WORD scan, char ch, DWORD state = 0, BOOL down = TRUE, WORD repeat = 1) {
  KEY_EVENT_RECORD k{};
  k.bKeyDown = down;
  k.wRepeatCount = repeat;
  k.wVirtualKeyCode = vk;
  k.wVirtualScanCode = scan;
  k.uChar.AsciiChar = ch;
  k.dwControlKeyState = state;
  return k;
}

std::string Codes(const KEY_EVENT_RECORD& k, size_t room = 16) {
  uint8_t out[16];
  const size_t n = win32::KeyEventCodes(k, out, room);
  return std::string(reinterpret_cast<const char*>(out), n);
}

TEST(Win32Keys, KeyEventsBecomeDosCodes) {
  EXPECT_EQ(Codes(Key('A', 30, 'a')), "a");
  EXPECT_EQ(Codes(Key(VK_RETURN, 28, '\r')), "\r");
  EXPECT_EQ(Codes(Key(VK_BACK, 14, '\b')), "\b");
  // A console on a terminal reports Esc without its character.
  EXPECT_EQ(Codes(Key(VK_ESCAPE, 1, 0)), "\x1b");
  EXPECT_EQ(Codes(Key(VK_ESCAPE, 1, 27)), "\x1b");
  // Arrows, editing and function keys: 0 and the scan code.
  EXPECT_EQ(Codes(Key(VK_UP, 72, 0)), std::string("\0\x48", 2));
  EXPECT_EQ(Codes(Key(VK_DOWN, 80, 0, ENHANCED_KEY)), std::string("\0\x50", 2));
  EXPECT_EQ(Codes(Key(VK_DELETE, 83, 0)), std::string("\0\x53", 2));
  EXPECT_EQ(Codes(Key(VK_F1, 59, 0)), std::string("\0\x3b", 2));
  EXPECT_EQ(Codes(Key(VK_F11, 87, 0)), std::string("\0\x85", 2));
  EXPECT_EQ(Codes(Key(VK_F12, 88, 0)), std::string("\0\x86", 2));
  EXPECT_EQ(Codes(Key(VK_TAB, 15, '\t')), "\t");
  EXPECT_EQ(Codes(Key(VK_TAB, 15, '\t', SHIFT_PRESSED)), std::string("\0\x0f", 2));
  // Code page 437 characters as the console gives them (e with acute, a box line).
  EXPECT_EQ(Codes(Key(0, 0, static_cast<char>(130))), "\x82");
  EXPECT_EQ(Codes(Key(0, 0, static_cast<char>(179))), "\xb3");
}

TEST(Win32Keys, ReleasesModifiersAndDeadKeysGiveNothing) {
  EXPECT_EQ(Codes(Key('A', 30, 'a', 0, FALSE)), "");
  EXPECT_EQ(Codes(Key(VK_SHIFT, 42, 0, SHIFT_PRESSED)), "");
  EXPECT_EQ(Codes(Key(VK_CONTROL, 29, 0, LEFT_CTRL_PRESSED)), "");
  EXPECT_EQ(Codes(Key(VK_CAPITAL, 58, 0)), "");
  EXPECT_EQ(Codes(Key(0, 0, 0)), "");
}

TEST(Win32Keys, RepeatsAreKeptWithinRoomAndExtendedKeysStayWhole) {
  EXPECT_EQ(Codes(Key('X', 45, 'x', 0, TRUE, 3)), "xxx");
  EXPECT_EQ(Codes(Key('X', 45, 'x', 0, TRUE, 3), 2), "xx");
  EXPECT_EQ(Codes(Key(VK_UP, 72, 0, 0, TRUE, 3), 5), std::string("\0\x48\0\x48", 4));
  EXPECT_EQ(Codes(Key(VK_UP, 72, 0), 1), "");
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
    dir_ = std::string(base) + "vekton-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    oldCwd_ = cwd;
  }
  void TearDown() override {
    SetCurrentDirectoryA(oldCwd_.c_str());
    for (const std::string& f : created_) DeleteFileA(f.c_str());
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) RemoveDirectoryA(it->c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Path(const std::string& name) {
    created_.push_back(dir_ + "\\" + name);
    return created_.back();
  }
  std::string Dir(const std::string& name) {
    dirs_.push_back(dir_ + "\\" + name);
    CreateDirectoryA(dirs_.back().c_str(), nullptr);
    return dirs_.back();
  }
  static void Put(const std::string& path, const std::string& text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
  }
  // Read through a handle of its own while the writer may still hold the file.
  static std::string Content(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
    std::string s;
    char buf[256];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
    CloseHandle(h);
    return s;
  }
  std::string dir_, oldCwd_;
  std::vector<std::string> created_, dirs_;
};

TEST_F(Win32Files, ResultFileIsNewAndEachLineLandsAtOnce) {
  const std::string existing = Path("1234_00.spf");
  Put(existing, "earlier run\r\n");
  TextFile f;
  EXPECT_EQ(TextFileCreateNew(f, existing), ERROR_FILE_EXISTS);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Content(existing), "earlier run\r\n");  // never overwritten

  const std::string path = Path("1234_01.spf");
  ASSERT_EQ(TextFileCreateNew(f, path), 0);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(Content(path), "");
  ASSERT_EQ(TextFileWriteLine(f, "Operator: Kim"), 0);
  EXPECT_EQ(Content(path), "Operator: Kim\r\n");
  ASSERT_EQ(TextFileWriteLine(f, ""), 0);
  ASSERT_EQ(TextFileWriteLine(f, "12:00 21.5 C \xb3 45 %"), 0);
  EXPECT_EQ(Content(path), "Operator: Kim\r\n\r\n12:00 21.5 C \xb3 45 %\r\n");
  TextFileClose(f);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(TextFileWriteLine(f, "late"), ERROR_INVALID_HANDLE);
  TextFileClose(f);  // twice is harmless

  EXPECT_NE(TextFileCreateNew(f, dir_ + "\\no-such-dir\\x.spf"), 0);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(Win32Files, SearchLooksInTheCurrentDirectoryThenAlongTheList) {
  const std::string a = Dir("a"), b = Dir("b");
  Put(Path("b\\1234_00.spf"), "");
  Put(Path("a\\1234_01.spf"), "");
  Put(Path("here.spf"), "");
  Dir("dir.spf");  // a directory of that name is no file
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));

  EXPECT_EQ(FSearch("here.spf", a + ";" + b), "here.spf");
  EXPECT_EQ(FSearch("1234_00.spf", ";" + a + ";;" + b + "\\"), b + "\\1234_00.spf");
  EXPECT_EQ(FSearch("1234_00.spf", a), "");
  EXPECT_EQ(FSearch("dir.spf", a + ";" + b), "");
  EXPECT_EQ(FSearch("", a + ";" + b), "");
  // A name with its own path is not looked for along the list.
  EXPECT_EQ(FSearch("C:\\1234_00.spf", b), "");

  // The free result name skips the names that exist along PATH.
  ComLib3Init();
  SetEnvironmentVariableA("PATH", (a + ";" + b).c_str());
  ShortStr name;
  UniqueResultName(1234, name, ".spf");
  EXPECT_EQ(std::string(name.view()), "1234_02");
}

TEST(Win32System, EnvironmentClockAndVersion) {
  ASSERT_TRUE(SetEnvironmentVariableA("VEKTON_TEST_VAR", "value"));
  EXPECT_EQ(GetEnv("VEKTON_TEST_VAR"), "value");
  const std::string longValue(1000, 'x');  // beyond the first buffer
  ASSERT_TRUE(SetEnvironmentVariableA("VEKTON_TEST_VAR", longValue.c_str()));
  EXPECT_EQ(GetEnv("VEKTON_TEST_VAR"), longValue);
  SetEnvironmentVariableA("VEKTON_TEST_VAR", nullptr);
  EXPECT_EQ(GetEnv("VEKTON_TEST_VAR"), "");

  uint16_t h, m, s, hs, y, mo, d, dow;
  GetTime(h, m, s, hs);
  GetDate(y, mo, d, dow);
  EXPECT_LT(h, 24);
  EXPECT_LT(m, 60);
  EXPECT_LT(s, 60);
  EXPECT_LT(hs, 100);
  EXPECT_GE(y, 2024);
  EXPECT_TRUE(mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && dow <= 6);

  // The system's major version in the low byte: NT 6 (Vista) or later.
  EXPECT_GE(DosVersion() & 0xFF, 6);
}

}  // namespace
