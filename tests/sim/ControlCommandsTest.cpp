// The commands of --control: what each does to the store and the line's
// endpoints, and what it says on stderr.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "sim/ControlCommands.h"

using simtest::LineRig;

namespace {

std::string Say(LineRig& rig, std::string_view command, uint64_t tUs = 1'000'000) {
  const sim::ControlResult r = sim::ApplyControl(command, rig.line, tUs);
  EXPECT_FALSE(r.quit) << command;
  return r.say;
}

}  // namespace

TEST(SimControl, VanishTakesEveryEndpointAwayOnceAndAnyOtherFaultBringsThemBack) {
  LineRig rig;
  EXPECT_EQ(Say(rig, "fault vanish"), "vekton-sim: fault vanish\n");
  EXPECT_EQ(Say(rig, "fault  vanish "), "vekton-sim: fault vanish\n");  // already gone: nothing more to close
  EXPECT_EQ(rig.at(0).vanished + rig.at(1).vanished, 2);
  EXPECT_EQ(rig.at(0).returned + rig.at(1).returned, 0);
  EXPECT_EQ(Say(rig, "fault slow 120"), "vekton-sim: fault slow\n");
  EXPECT_EQ(rig.at(0).returned + rig.at(1).returned, 2);
  EXPECT_EQ(rig.store.fault(), sim::Fault::Slow);
  EXPECT_EQ(rig.store.faultMs(), 120u);
  EXPECT_EQ(Say(rig, "fault none"), "vekton-sim: fault none\n");
  EXPECT_EQ(rig.at(0).returned + rig.at(1).returned, 2);
}

TEST(SimControl, BadCommandsChangeNothingAndSayWhy) {
  LineRig rig;
  EXPECT_EQ(Say(rig, "fault melt"), "vekton-sim: unknown fault \"melt\"\n");
  EXPECT_EQ(Say(rig, "fault slow 600001"), "vekton-sim: unknown fault \"slow 600001\"\n");
  EXPECT_EQ(Say(rig, "speed 0"), "vekton-sim: bad speed \"0\"\n");
  EXPECT_EQ(Say(rig, "speed"), "vekton-sim: bad speed \"\"\n");
  EXPECT_EQ(Say(rig, "plates many"), "vekton-sim: unknown plate layout \"many\"\n");
  EXPECT_EQ(Say(rig, "frobnicate 1\r"), "vekton-sim: unknown control command \"frobnicate 1\"\n");
  EXPECT_EQ(rig.store.fault(), sim::Fault::None);
  EXPECT_DOUBLE_EQ(rig.store.speed(), 1.0);
  EXPECT_EQ(rig.at(0).vanished, 0);
}

TEST(SimControl, ExecSpeedPlatesCommentsAndQuit) {
  LineRig rig;
  EXPECT_EQ(Say(rig, "exec WR DM211 7"), "vekton-sim: WR DM211 7 -> OK\n");
  EXPECT_EQ(rig.store.Execute("RD DM211", 1'000'000), "00007");
  EXPECT_EQ(Say(rig, "exec RD DM99999"), "vekton-sim: RD DM99999 -> E0\n");
  EXPECT_EQ(Say(rig, "speed 4"), "");
  EXPECT_DOUBLE_EQ(rig.store.speed(), 4.0);
  EXPECT_EQ(Say(rig, "plates empty"), "");
  EXPECT_EQ(rig.store.Plate(1, 1), 0);
  EXPECT_EQ(Say(rig, "plates three"), "");
  EXPECT_NE(rig.store.Plate(1, 3), 0);
  EXPECT_EQ(Say(rig, "   # fault vanish"), "");
  EXPECT_EQ(Say(rig, "\t"), "");
  EXPECT_EQ(rig.at(0).vanished, 0);
  EXPECT_TRUE(sim::ApplyControl(" quit ", rig.line, 1'000'000).quit);
}
