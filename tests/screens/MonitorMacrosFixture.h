// The flag monitor and the macros screen on the virtual platform: a
// controller on port 1 that answers by a table, and hooks that type keys or
// keep a copy of the screen when a given command arrives for the n-th time,
// so every step lands at a known point of a pass.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

class MonMacTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    InitAllUnits();
    GetScreenSize();
    peer.OnAny([this](const std::string& line, vt::ScriptedPeer::Rule& rule) {
      const int n = ++seen[line];
      if (onLine) onLine(line, n);
      for (const auto& t : triggers)
        if (t.line == line && t.occurrence == n) vt::PushKeys(t.keys);
      if (silent) return false;
      auto it = answers.find(line);
      if (it == answers.end()) return false;
      rule.answer = it->second;
      return true;
    });
    vt::AttachPort(1, &peer);
    ComPort = 1;
    SerialNumber = 1234;
    ASSERT_EQ(KvOpenPort(1), 0);
    TextBackground(7);
    TextColor(1);
    ClrScr();
  }

  // Keys typed as the n-th copy of a command line reaches the controller.
  void When(const std::string& line, int n, const std::string& keys) { triggers.push_back({line, n, keys}); }

  static std::vector<std::string> Wire() { return vt::WrittenLines(1); }
  // Screen row y from column x on, trailing blanks cut.
  static std::string Row(int y, int x = 1) {
    std::string r = gScreen.Row(y).substr(static_cast<size_t>(x - 1));
    r.erase(r.find_last_not_of(' ') + 1);
    return r;
  }
  static std::vector<std::string> Rows() {
    std::vector<std::string> rows(1);
    for (int y = 1; y <= ScreenModel::kRows; ++y) rows.push_back(gScreen.Row(y));
    return rows;
  }

  struct Trigger {
    std::string line;
    int occurrence;
    std::string keys;
  };
  vt::ScriptedPeer peer;
  std::map<std::string, std::string> answers;
  std::map<std::string, int> seen;
  std::vector<Trigger> triggers;
  std::function<void(const std::string&, int)> onLine;
  bool silent = false;  // the controller stops answering
};
