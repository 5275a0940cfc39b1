// Runs the whole program on the virtual platform against a scripted
// controller on port 1, one typed line per blocking key read.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    peer.On("CR", "CC");
    peer.On("CQ", "CF");
    peer.On("RD DM109", "01234");
    peer.On("RD DM108", "07104");
    peer.On("WR DM123 0", "OK");
    peer.On("RD DM25", "00010");
    peer.On("RD DM29", "00012");
    peer.On("RD DM46", "00006");
    peer.On("RD DM47", "00003");
    peer.On("RD DM23", "00250");
    peer.On("RD DM22", "00007");
    peer.On("RD DM20", "01000");
    peer.On("RD 1703", "1");
    vt::AttachPort(1, &peer);
  }

  // Each time the program blocks on a key with none queued, the next step is
  // typed and the screen as it stood is kept in `screens`. No steps left:
  // the run ends with vt::ScriptEnd.
  void Script(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(Screen());
      if (onStep) onStep(next_);
      if (next_ >= steps_.size()) return false;
      vt::PushKeys(steps_[next_++]);
      return true;
    });
  }

  // Runs the program; -1 when the key script ran out first.
  int RunProgram() {
    try {
      return VektonMain();
    } catch (const vt::ScriptEnd&) {
      return -1;
    }
  }

  static std::string Screen() {
    std::string s;
    for (int y = 1; y <= ScreenModel::kRows; ++y) s += gScreen.Row(y) + "\n";
    return s;
  }
  // Row y without its trailing blanks.
  static std::string Line(int y) {
    std::string r = gScreen.Row(y);
    r.erase(r.find_last_not_of(' ') + 1);
    return r;
  }
  static std::vector<std::string> Wire() { return vt::WrittenLines(1); }

  vt::ScriptedPeer peer;
  std::vector<std::string> screens;
  std::function<void(size_t)> onStep;  // called before step n is typed

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};
