// The endurance tests and the motion primitives on the virtual platform:
// the scripted store of tests/support with three cassettes of four levels
// (firmware 7000) and serial number 1234; and the whole program against
// the simulated store.
#pragma once
#include <climits>
#include <tuple>
#include <vector>

#include "console/TestSequences.h"
#include "platform/System.h"
#include "tests/support/ScriptedStore.h"

// The accesses of one ThreePlateStep of cassette c (of n) in cassettes of L
// levels, with or without the direct path (relay 1703).
inline void ThreePlateAccesses(std::vector<WireAccess>& out, int c, int n, int L, bool direct) {
  const int next = c < n ? c + 1 : 1;
  for (int i = 1; i <= L - 3; ++i) {
    out.push_back({c, i + 1, 1908});
    out.push_back({c, i + 3, 1909});
    out.push_back({c, i, 1908});
    out.push_back({c, i + 1, 1909});
  }
  if (direct) {
    out.push_back({c, L - 1, 1908});
    out.push_back({next, 3, 1909});
  } else {
    out.push_back({c, L - 1, 1905});
  }
  out.push_back({c, L - 2, 1908});
  out.push_back({next, 1, 1909});
  out.push_back({c, L, 1908});
  out.push_back({next, 2, 1909});
  if (!direct) out.push_back({next, 3, 1904});
}

class SequenceTest : public ScriptedStoreTest {
 protected:
  void SetUp() override {
    Fresh();
    Geometry(7000, 3, 3, 4);
    dm[109] = "01234";
  }

  static std::string Screen() { return WholeScreen(); }
  static std::string Line(int y) { return ScreenRow(y); }
};

// --- the whole program against the simulated store ----------------------------
#include "sim/Harness.h"

// The simulated store behind a tap that sees each command line as it ends.
class TappedStore : public vt::SerialPeer {
 public:
  explicit TappedStore(const sim::Profile& profile, const sim::Options& options = {}) : peer_(profile, options) {}
  sim::Store& store() { return peer_.store(); }
  std::function<void(const std::string&)> onLine;
  std::vector<std::string> lines;

  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    peer_.OnByte(byte, tUs, out);
    if (byte != 13) {
      line_.push_back(static_cast<char>(byte));
      return;
    }
    lines.push_back(line_);
    if (onLine) onLine(line_);
    line_.clear();
    // A store that went wrong never gets Ready again, and the console would
    // wait for it for ever: the operator gives up (the test fails instead).
    if (!gaveUp_ && peer_.store().counts().errors > 0) {
      gaveUp_ = true;
      vt::PushKeys("\x1b");
    }
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override { peer_.AdvanceTo(tUs, out); }

 private:
  sim::StorePeer peer_;
  std::string line_;
  bool gaveUp_ = false;
};

// The all-slots test's documented order on a store: the pick from 1,1, then
// per pass each cassette of the first group followed by its partner in the
// second, every level loaded and unloaded. (cassette, level, relay) each.
inline std::vector<std::tuple<int, int, int>> AllSlotsOrder(const sim::Profile& profile, const sim::Store& store,
                                                             int passes) {
  std::vector<std::tuple<int, int, int>> want = {{1, 1, 1908}};
  for (int n = 0; n < passes; ++n)
    for (int c = 1; c <= profile.firstGroup; ++c)
      for (int cc : {c, c + profile.firstGroup})
        for (int l = 1; l <= store.LevelsOf(cc); ++l) {
          want.push_back({cc, l, 1909});
          want.push_back({cc, l, 1908});
        }
  return want;
}

// The three-plate test's store: three cassettes of six levels with a
// transfer station, the direct path or not.
inline sim::Profile ThreePlateProfile(const sim::Profile& standard, bool direct) {
  sim::Profile profile = standard;
  profile.positions = 3;
  profile.firstGroup = 3;
  profile.levels = 6;
  for (auto& l : profile.cassetteLevels) l = 0;
  profile.transferStation = true;
  profile.directPath = direct;
  return profile;
}

// Runs the whole program (start-up, menu, the screen, quit) against a store
// on port 1. The operator types the steps, one per wait for a key.
class StoreRunTest : public ::testing::Test {
 protected:
  std::vector<std::string> screens;  // the screen each time a step was typed

  void Start(TappedStore& store) {
    screens.clear();
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    vt::AttachPort(1, &store);
  }

  int Run(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(WholeScreen());
      if (next_ >= steps_.size()) return false;
      vt::PushKeys(steps_[next_++]);
      return true;
    });
    try {
      return VektonMain();
    } catch (const vt::ScriptEnd&) {
      return -1;
    }
  }

  // A profile changed for one test.
  static sim::Profile Profile(const char* name) {
    const sim::Profile* p = sim::FindProfile(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? *p : sim::DefaultProfile();
  }

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};
