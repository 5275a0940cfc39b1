// What the component tests' fixtures share: typed lines fed one per blocking
// key read, the program's side of port 1, and what a test reads back (the
// commands without the status line's polls, the screen's lines, when a
// command was sent).
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"

class ComponentScreenTest : public ::testing::Test {
 protected:
  // Each blocking key read with nothing queued types the next step.
  void Type(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      if (next_ >= steps_.size()) return false;
      typedAt.push_back(vt::NowUs());
      vt::PushKeys(steps_[next_++]);
      return true;
    });
  }
  size_t StepsTyped() const { return next_; }
  std::vector<uint64_t> typedAt;  // virtual time at which each step was typed

  // Runs one test or screen; false when it asked for a key the script did
  // not have.
  static bool Run(void (*screen)()) {
    try {
      screen();
      return true;
    } catch (const vt::ScriptEnd&) {
      return false;
    }
  }

  // The commands sent, without the status line's polls.
  static std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const std::string& l : vt::WrittenLines(1))
      if (l != "RD DM200" && l != "RD 1915") out.push_back(l);
    return out;
  }
  // Commands whose text starts with one of the prefixes.
  static std::vector<std::string> CommandsOf(std::initializer_list<const char*> prefixes) {
    std::vector<std::string> out;
    for (const std::string& l : Commands())
      for (const char* p : prefixes)
        if (l.rfind(p, 0) == 0) {
          out.push_back(l);
          break;
        }
    return out;
  }
  static std::vector<std::string> CommandsStartingWith(const std::string& prefix) {
    return CommandsOf({prefix.c_str()});
  }
  // Rows 2..25 without trailing blanks; empty rows left out, or kept (but
  // for the ones at the end) when `keepEmpty`.
  static std::vector<std::string> ScreenLines(bool keepEmpty = false) {
    std::vector<std::string> out;
    for (int y = 2; y <= ScreenModel::kRows; ++y) {
      std::string r = gScreen.Row(y);
      r.erase(r.find_last_not_of(' ') + 1);
      if (keepEmpty || !r.empty()) out.push_back(r);
    }
    if (keepEmpty)
      while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  }
  // Screen lines that start with the prefix.
  static std::vector<std::string> LinesStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : ScreenLines())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  // Virtual time (us) at which the n-th line (0-based) equal to `line` was sent.
  static uint64_t SentAt(const std::string& line, int n) {
    auto lines = vt::WrittenLines(1);
    auto times = vt::WrittenLineTimes(1);
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == line && n-- == 0) return times[i];
    return 0;
  }

  // The program's side of port 1 at its start, the screen in the normal
  // colours with the cursor in the work area.
  void StartProgram(vt::SerialPeer* peer) {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    vt::AttachPort(1, peer);
    ComPort = 1;
    ASSERT_EQ(KvOpenPort(1), 0);
    TextBackground(7);
    TextColor(1);
    ClrScr();
    GotoXY(1, 2);
  }
  void TearDown() override { ComClose(1); }

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};

