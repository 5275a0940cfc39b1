// Shared set-up for tests on the virtual platform.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "comLib3/comLib3.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

// A fresh virtual machine with the keyboard units at their start state and,
// on port 1, a scripted controller.
class VirtualTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    ComLib3Init();
    vt::AttachPort(1, &peer);
  }
  // Opens port 1 with the controller's line settings.
  void OpenPort() { ASSERT_EQ(0, ComOpen(1, 9600, 'E', 8, 1)); }
  std::string Row(int y) const { return gScreen.Row(y); }
  std::string Text(int x, int y, int n) const { return gScreen.Text(x, y, n); }

  vt::ScriptedPeer peer;
};
