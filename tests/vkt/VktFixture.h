// A store on port 1 that answers by a table, a fresh screen in the normal
// colours and every unit back at its start.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

class VktTest : public ::testing::Test {
 protected:
  vt::ScriptedPeer peer;

  void SetUp() override {
    vt::Reset();
    ComLib3Init();
    GlobalsInit();
    ScreenTextInit();
    StatusLineInit();
    vt::AttachPort(1, &peer);
    ASSERT_EQ(KvOpenPort(1), 0);
    ComPort = 1;
    TextBackground(7);
    TextColor(1);
    ClrScr();
  }
  void TearDown() override { ComClose(1); }

  static std::vector<std::string> Lines() { return vt::WrittenLines(1); }
  static std::string Text(int x, int y, int n) { return gScreen.Text(x, y, n); }
  // Every cell of a run has these colours.
  static bool Colours(int x, int y, int n, int fg, int bg) {
    for (int i = 0; i < n; ++i)
      if (gScreen.Fg(x + i, y) != fg || gScreen.Bg(x + i, y) != bg) return false;
    return true;
  }
  // Keys that arrive ms milliseconds from now.
  static void Keys(uint64_t ms, std::string_view bytes) { vt::PushKeysAt(vt::NowUs() + ms * 1000, bytes); }
  static double Seconds(uint64_t us) { return static_cast<double>(us) / 1e6; }
};
