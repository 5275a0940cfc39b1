// The all-slots and three-plate tests against the simulated store while the
// line goes away twice and comes back: each goes on by itself, and the
// store's record shows every access the screen asked for made once, in the
// order a run without losses makes them.
#include <tuple>

#include "SequenceFixture.h"

namespace {

class LineBackSequence : public StoreRunTest {
 protected:
  // The line goes away 0.3 s after the store received the n-th and the m-th
  // access command (in the middle of the move), for 3 s and for 1.5 s.
  void LoseLineAfter(TappedStore& store, int n, int m, std::function<void(int)> onAccess) {
    store.onLine = [this, n, m, onAccess, seen = 0](const std::string& line) mutable {
      if (!IsAccessRelay(line)) return;
      ++seen;
      vt::PortState& port = vt::Port(1);
      if (seen == n || seen == m) {
        port.vanishAtUs = vt::NowUs() + 300'000;
        port.backAtUs = port.vanishAtUs + (seen == n ? 3'000'000 : 1'500'000);
      }
      onAccess(seen);
    };
  }
};

TEST_F(LineBackSequence, AllSlotsGoesOnAndVisitsEverySlotOnce) {
  const sim::Profile profile = Profile("fw7014");
  TappedStore store(profile);
  Start(store);
  int slots = 0;
  for (int c = 1; c <= profile.positions; ++c) slots += store.store().LevelsOf(c);
  const int twoCycles = 1 + 4 * slots;
  uint32_t countedThen = 0;
  LoseLineAfter(store, 10, slots + 7, [&](int seen) {
    if (seen == twoCycles + 1) {
      countedThen = store.store().counts().accesses;
      vt::PushKeys("\x1b");
    }
  });
  EXPECT_EQ(Run({"1\r", "\r", "6\r", "y", "n", "Q", "0\r"}), 0);
  EXPECT_EQ(vt::Port(1).reopens, 2u);
  EXPECT_EQ(countedThen, static_cast<uint32_t>(twoCycles));

  const std::vector<std::tuple<int, int, int>> want = AllSlotsOrder(profile, store.store(), 2);
  const auto& rec = store.store().Accesses();
  ASSERT_GE(rec.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(std::make_tuple(rec[i].cassette, rec[i].level, static_cast<int>(rec[i].relay)), want[i]) << i;
    ASSERT_EQ(rec[i].result, sim::AccessResult::Ok) << i;
  }
  EXPECT_EQ(store.store().counts().errors, 0u);
}

TEST_F(LineBackSequence, ThreePlateGoesOnAndHandsTheBlockRound) {
  const sim::Profile profile = ThreePlateProfile(Profile("standard"), true);
  sim::Options options;
  options.plates = sim::PlateLayout::Three;
  TappedStore store(profile, options);
  Start(store);

  const int pass = 3 * (4 * (6 - 3) + 6);
  uint32_t countedThen = 0;
  bool blockBack = false;
  LoseLineAfter(store, 5, 33, [&](int seen) {
    if (seen != pass + 1) return;
    countedThen = store.store().counts().accesses;
    const sim::Store& s = store.store();
    blockBack = s.Plate(1, 1) && s.Plate(1, 2) && s.Plate(1, 3) && !s.ShovelPlate() && !s.StationPlate();
    vt::PushKeys("\x1b");
  });
  EXPECT_EQ(Run({"1\r", "\r", "8\r", "Q", "0\r"}), 0);
  EXPECT_EQ(vt::Port(1).reopens, 2u);
  EXPECT_TRUE(blockBack);
  // Every access the screen started, counted once by the store; none failed,
  // and no access command went out twice.
  EXPECT_EQ(countedThen, static_cast<uint32_t>(pass));
  EXPECT_EQ(store.store().counts().errors, 0u);
  int sent = 0;
  for (const std::string& line : store.lines) sent += IsAccessRelay(line);
  EXPECT_EQ(sent, pass + 1);
}

}  // namespace
