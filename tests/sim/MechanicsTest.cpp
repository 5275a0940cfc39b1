// The store behind the wire: the carousel, the handler and its plates, the
// errors a wrong access raises, the component-test drives, and the words
// that mirror it all.
#include <gtest/gtest.h>

#include "SimTestUtil.h"

using simtest::StoreTest;

namespace {

const sim::Profile& P(const char* name) {
  const sim::Profile* p = sim::FindProfile(name);
  EXPECT_NE(p, nullptr) << name;
  return p ? *p : sim::DefaultProfile();
}

class Carrousel : public StoreTest {};

TEST_F(Carrousel, TurnsPositionByPositionWithReadyOffAndT20OnAtTheEnd) {
  EXPECT_EQ(Word(1), 1);
  EXPECT_TRUE(On(0));  // P0: standing at home
  ASSERT_EQ(Cmd("WR DM0 9"), "OK");
  EXPECT_FALSE(On(1915));
  EXPECT_EQ(Cmd("RD T20")[0], '0');
  EXPECT_TRUE(On(500) && On(504));  // rotation enabled, drive running

  std::vector<int> seen;
  uint64_t readyAfter = 0, t20After = 0;
  const uint64_t start = now;
  while (now - start < 3'000'000 && !(readyAfter && t20After)) {
    const int p = Word(1);
    if (seen.empty() || seen.back() != p) seen.push_back(p);
    if (!t20After && Cmd("RD T20")[0] == '1') t20After = now - start;
    if (!readyAfter && On(1915)) readyAfter = now - start;
    Wait(10'000);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // Eight positions: the ramp, 0.2 s a position and T20's 0.1 s, under the
  // 2 s the console's movement test counts; Ready together with the T20
  // contact.
  EXPECT_GT(t20After, 1'850'000u);
  EXPECT_LT(t20After, 1'950'000u);
  EXPECT_EQ(readyAfter, t20After);
  EXPECT_FALSE(On(504));
  EXPECT_EQ(store.counts().carrouselMoves, 1u);
}

TEST_F(Carrousel, TurnsOneWayOnlyAndEvenOnePositionTakesLongerThanAPoll) {
  Cmd("WR DM0 2");
  const uint64_t one = UntilReady();
  EXPECT_GT(one, 250'000u);  // a move the console's 0.05 s floor counts
  EXPECT_LT(one, 600'000u);
  Cmd("WR DM0 1");  // from 2 back to 1 is eight positions forward
  EXPECT_GT(UntilReady(), 1'000'000u);
  Cmd("WR DM0 1");  // already there: nothing moves
  EXPECT_TRUE(On(1915));
}

// The console's carousel watch reads DM1 every 0.206 s while a position
// stands (0.15 s after a change). Every position a move passes shows for
// longer than that, so none is missed.
TEST_F(Carrousel, EveryPositionPassedShowsLongerThanTheConsolesWatchTakesBetweenReadings) {
  for (int target : {9, 8, 1, 2}) {  // 8, 8, 2 and 1 positions
    SCOPED_TRACE(target);
    Cmd("WR DM0 " + std::to_string(target));
    std::vector<std::pair<int, uint64_t>> shown;  // position, from when
    const uint64_t start = now;
    while (!On(1915) && now - start < 5'000'000) {
      const int p = Word(1);
      if (shown.empty() || shown.back().first != p) shown.push_back({p, now});
      now += 1'000;
      store.AdvanceTo(now);
    }
    ASSERT_TRUE(On(1915));
    ASSERT_GE(shown.size(), 2u);
    for (size_t k = 1; k + 1 < shown.size(); ++k)
      EXPECT_GE(shown[k + 1].second - shown[k].second, 215'000u) << "position " << shown[k].first;
  }
}

TEST(FastCarrousel, PassesAPositionFasterThanTheConsolesWatchReads) {
  sim::Store s(P("fastcar"));
  ASSERT_EQ(s.Execute("WR DM0 9", 0), "OK");
  std::vector<std::pair<int, uint64_t>> shown;
  for (uint64_t t = 0; t < 3'000'000 && !s.Ready(); t += 1'000) {
    s.AdvanceTo(t);
    const int p = s.Dm(1);
    if (shown.empty() || shown.back().first != p) shown.push_back({p, t});
  }
  ASSERT_EQ(shown.size(), 9u);
  EXPECT_LT(shown[5].second - shown[4].second, 150'000u);
}

TEST_F(Carrousel, PositionsTheStoreDoesNotHaveAreIgnored) {
  for (const char* v : {"WR DM0 0", "WR DM0 10", "WR DM0 65526"}) {  // 0, 10, -10 on nine positions
    Cmd(v);
    EXPECT_TRUE(On(1915)) << v;
  }
  Cmd("RS 1801");  // deactivated: no moves, no accesses
  Cmd("WR DM0 5");
  EXPECT_TRUE(On(1915));
  Cmd("ST 1908");
  EXPECT_FALSE(On(1908));
  EXPECT_EQ(Word(200) & 0x1000, 0x1000);
  Cmd("ST 1801");
  Cmd("WR DM0 5");
  EXPECT_FALSE(On(1915));
}

TEST(CarrouselLookUpTable, NegativeDm0AddressesCassettesFromFirmware7014) {
  for (const char* name : {"fw6900", "fw7000", "fw7014", "fw7104"}) {
    sim::Store s(P(name));
    s.Execute("WR DM0 65533", 1'000'000);  // -3
    s.AdvanceTo(4'000'000);
    const bool table = P(name).firmware >= 7014;
    EXPECT_EQ(s.CarrouselPosition(), table ? 3 : 1) << name;
  }
}

class Handler : public StoreTest {
 protected:
  // Runs one access and returns the store's record of it.
  sim::AccessRecord Access(int dm0, int level, int relay) {
    Cmd("WR DM0 " + std::to_string(dm0 < 0 ? 65536 + dm0 : dm0));
    Cmd("WR DM5 " + std::to_string(level));
    EXPECT_EQ(Cmd("ST " + std::to_string(relay)), "OK");
    Until([this] { return On(1915) || On(1814); });
    return store.Accesses().back();
  }
};

TEST_F(Handler, PlateReadyComesOnAtTheHandOverAndReadyAtTheEnd) {
  ASSERT_NE(store.Plate(1, 1), 0);
  Cmd("WR DM0 65535");  // cassette 1 through the look-up table
  Cmd("WR DM5 1");
  Cmd("ST 1905");       // unload the slot to the transfer station
  EXPECT_FALSE(On(1915));
  EXPECT_FALSE(On(1815));
  EXPECT_TRUE(On(1905));  // the command relay stays on while its job runs

  uint64_t plateAt = 0, readyAt = 0;
  const uint64_t start = now;
  while (!readyAt && now - start < 30'000'000) {
    if (!plateAt && On(1815)) {
      plateAt = now;
      EXPECT_FALSE(On(1915));  // the plate is handed over before the handler is home
    }
    if (On(1915)) readyAt = now;
    Wait(10'000);
  }
  ASSERT_GT(plateAt, 0u);
  ASSERT_GT(readyAt, plateAt);
  EXPECT_TRUE(On(1815));  // PlateReady stays until the next command
  EXPECT_FALSE(On(1905));
  EXPECT_TRUE(On(1813));
  EXPECT_EQ(store.Plate(1, 1), 0);
  EXPECT_EQ(store.StationPlate(), 1);

  const sim::AccessRecord& r = store.Accesses().back();
  EXPECT_EQ(r.relay, 1905);
  EXPECT_EQ(r.dm0, 65535);
  EXPECT_EQ(r.cassette, 1);
  EXPECT_EQ(r.level, 1);
  EXPECT_EQ(r.startUs, start);
  EXPECT_GT(r.plateReadyUs, r.startUs);
  EXPECT_GT(r.readyUs, r.plateReadyUs);
  EXPECT_LE(r.readyUs, readyAt);
  EXPECT_GT(r.readyUs + 10'000, readyAt);
  EXPECT_EQ(r.result, sim::AccessResult::Ok);

  // And back in, to another slot: the plate travels, the counters follow.
  Cmd("RS 1815");  // a host cannot force a status relay
  EXPECT_TRUE(On(1815));
  const sim::AccessRecord back = Access(-4, 7, 1904);
  EXPECT_EQ(back.result, sim::AccessResult::Ok);
  EXPECT_EQ(store.Plate(4, 7), 1);
  EXPECT_EQ(store.StationPlate(), 0);
  EXPECT_EQ(store.CarrouselPosition(), 4);
  EXPECT_EQ(store.counts().accesses, 2u);
  EXPECT_EQ(store.counts().loads, 1u);
  EXPECT_EQ(store.counts().unloads, 1u);
  EXPECT_EQ(store.counts().gateCycles, 2u);
  EXPECT_EQ(Word(113) + 65535 * Word(114), static_cast<int>(sim::DefaultProfile().accesses) + 2);
}

TEST_F(Handler, AWrongAccessStopsTheStoreWithErrorFlagStatusAndCounterUntilReset) {
  const sim::AccessRecord r = Access(-3, 1, 1908);  // cassette 3 is empty
  EXPECT_EQ(r.result, sim::AccessResult::SlotEmpty);
  EXPECT_EQ(r.readyUs, 0u);
  EXPECT_TRUE(On(1814));
  EXPECT_EQ(Word(211), 1);
  EXPECT_EQ(Word(200) & 0xFF00, 0x8100);  // stopped, error code 1
  EXPECT_EQ(store.counts().errors, 1u);
  Wait(60'000'000);
  EXPECT_FALSE(On(1915));  // no way out but a system reset

  Cmd("ST 1900");
  EXPECT_LT(UntilReady(), 3'000'000u);
  EXPECT_FALSE(On(1814));
  EXPECT_EQ(Word(200) & 0xFF00, 0);
  EXPECT_EQ(Word(211), 1);  // the counter outlives the reset
  EXPECT_EQ(Cmd("WR DM211 0"), "OK");
  EXPECT_EQ(Word(211), 0);

  // Each wrong access has its own counter.
  store.SetPlates(sim::PlateLayout::Three);
  EXPECT_EQ(Access(-1, 1, 1908).result, sim::AccessResult::Ok);
  EXPECT_EQ(Access(-1, 2, 1908).result, sim::AccessResult::ShovelFull);
  Cmd("ST 1900");
  UntilReady();
  EXPECT_EQ(Access(-1, 2, 1909).result, sim::AccessResult::SlotFull);
  Cmd("ST 1900");
  UntilReady();
  EXPECT_EQ(Access(-1, 1, 1909).result, sim::AccessResult::Ok);
  EXPECT_EQ(Access(-1, 4, 1909).result, sim::AccessResult::ShovelEmpty);
  Cmd("ST 1900");
  UntilReady();
  EXPECT_EQ(Access(-1, 1, 1904).result, sim::AccessResult::StationEmpty);
  Cmd("ST 1900");
  UntilReady();
  EXPECT_EQ(Access(-3, 12, 1908).result, sim::AccessResult::BadAddress);  // cassette 3 has 11 levels
  EXPECT_EQ(Word(214), 1);
  EXPECT_EQ(Word(212), 1);
  EXPECT_EQ(Word(213), 1);
  EXPECT_EQ(Word(215), 1);
  EXPECT_EQ(Word(217), 1);
}

TEST_F(Handler, NativeAddressingTakesTheLevelCountFromDm25) {
  store.SetPlates(sim::PlateLayout::Full);
  Cmd("WR DM25 10");
  EXPECT_EQ(Access(2, 11, 1908).result, sim::AccessResult::BadAddress);
  Cmd("ST 1900");
  UntilReady();
  Cmd("WR DM25 22");
  EXPECT_EQ(Access(2, 11, 1908).result, sim::AccessResult::Ok);
  EXPECT_EQ(Word(121), store.ShovelPlate());  // the barcode of the plate just taken
}

TEST(HandlerWithoutStation, RefusesTransferStationRelays) {
  sim::Store s(P("fw7000"));
  s.Execute("WR DM0 1", 1'000'000);
  s.Execute("WR DM5 1", 1'000'000);
  s.Execute("ST 1905", 1'000'000);
  s.AdvanceTo(2'000'000);
  EXPECT_TRUE(s.Relay(1814));
  EXPECT_EQ(s.Dm(217), 1);
  EXPECT_EQ(s.Accesses().back().result, sim::AccessResult::BadAddress);
}

TEST_F(Handler, ASystemResetCutsARunningAccessShort) {
  Cmd("WR DM0 65531");
  Cmd("WR DM5 1");
  Cmd("ST 1908");
  Wait(300'000);
  Cmd("ST 1900");
  EXPECT_LT(UntilReady(), 3'000'000u);
  EXPECT_EQ(store.Accesses().back().result, sim::AccessResult::Aborted);
  EXPECT_EQ(store.counts().resets, 1u);
}

TEST_F(Handler, GateAndEndOfAccessAreShortJobs) {
  const int cycles = Word(111);
  Cmd("ST 1901");
  EXPECT_FALSE(On(1915));
  EXPECT_LT(UntilReady(), 2'000'000u);
  EXPECT_TRUE(On(3));
  EXPECT_FALSE(On(2));
  Cmd("ST 1902");
  UntilReady();
  EXPECT_TRUE(On(2));
  EXPECT_EQ(Word(111), cycles + 1);
  Cmd("ST 1903");  // end of access: the lift goes home
  EXPECT_FALSE(On(1915));
  UntilReady();
  EXPECT_EQ(Word(2), sim::DefaultProfile().liftBase);
}

class Drives : public StoreTest {};

TEST_F(Drives, ShovelAndTurnMoveOnlyWhileDm123HoldsTheEnableWord) {
  EXPECT_EQ(Cmd("RD T13")[0], '1');  // shovel back and settled
  Cmd("ST 1401");
  Wait(2'000'000);
  EXPECT_FALSE(On(12));
  EXPECT_EQ(Cmd("RD T12")[0], '0');

  Cmd("WR DM123 51873");
  EXPECT_NE(Until([this] { return Cmd("RD T12")[0] == '1'; }, 3'000'000), UINT64_MAX);
  EXPECT_TRUE(On(12));
  EXPECT_EQ(Cmd("RD T13")[0], '0');
  Cmd("RS 1401");
  EXPECT_NE(Until([this] { return Cmd("RD T13")[0] == '1'; }, 3'000'000), UINT64_MAX);

  Cmd("ST 1402");
  EXPECT_TRUE(On(6901));  // turning
  EXPECT_NE(Until([this] { return !On(6901); }, 3'000'000), UINT64_MAX);
  EXPECT_TRUE(On(14));
  Cmd("WR DM123 0");  // leaving the component test sends it home
  EXPECT_TRUE(On(6901));
  Wait(2'000'000);
  EXPECT_FALSE(On(14));
}

TEST(DrivesByFirmware, Firmware7000AndBelowUse1701And1702) {
  for (const char* name : {"fw7000", "standard"}) {
    sim::Store s(P(name));
    s.Execute("WR DM123 51873", 1'000'000);
    s.Execute("ST 1701", 1'000'000);
    s.AdvanceTo(3'000'000);
    EXPECT_EQ(s.Relay(12), P(name).firmware <= 7000) << name;
  }
}

TEST_F(Drives, LiftPastItsTravelTripsTheEndSwitchUntilReset) {
  Cmd("WR DM6 5000");
  EXPECT_FALSE(On(1915));
  UntilReady();
  EXPECT_EQ(Word(2), 5000);
  EXPECT_FALSE(On(15));
  Cmd("WR DM6 60000");
  UntilReady();
  EXPECT_EQ(Word(2), sim::DefaultProfile().liftTravel);
  EXPECT_TRUE(On(15));
  EXPECT_EQ(Word(218), 1);
  Cmd("WR DM6 0");
  UntilReady();
  EXPECT_TRUE(On(15));  // latched
  Cmd("ST 1900");
  UntilReady();
  EXPECT_FALSE(On(15));
}

TEST_F(Drives, Smc1TakesItsPointsThroughDm300AndTravelsOnDm50) {
  // The set-up the SMC 1 movement test sends, with a path past the travel.
  for (const char* line : {"WR DM301 0", "WR DM300 35840", "WR DM51 2", "WR DM50 300"}) Cmd(line);
  UntilReady();
  for (const char* line : {"WR DM301 30000", "WR DM300 36352", "WR DM51 2", "WR DM50 300"}) Cmd(line);
  UntilReady();
  Cmd("WR DM50 96");
  UntilReady();
  EXPECT_FALSE(On(11));
  Cmd("WR DM50 97");
  EXPECT_FALSE(On(1915));
  const uint64_t out = UntilReady();
  EXPECT_GT(out, 1'500'000u);  // 20000 units at 10000 a second
  EXPECT_TRUE(On(11));
  EXPECT_EQ(Word(219), 1);
}

TEST_F(Drives, LifetimeWordsGrowAsTheStoreWorks) {
  const sim::Profile& p = sim::DefaultProfile();
  EXPECT_EQ(Word(110), static_cast<int>(p.hours));
  const int on = Word(117) + 65535 * Word(118);
  const int total = Word(119) + 65535 * Word(120);
  const uint64_t before = now;
  Cmd("WR DM0 9");
  UntilReady();
  Wait(3600'000'000ull);
  EXPECT_EQ(Word(110), static_cast<int>(p.hours) + 1);
  EXPECT_EQ(Word(119) + 65535 * Word(120), total + static_cast<int>(now / 1'000'000 - before / 1'000'000));
  EXPECT_EQ(Word(117) + 65535 * Word(118), on + 1);  // only the move's second counts as on time
}

// The controller keeps its lifetime counters in two words, the high one
// counting units of 65535 (the console's service statistics multiply it
// so): the low word never reaches 65535, and the pair gives back the count.
TEST(LifetimeWords, AreSplitAsHighTimes65535PlusLowAsTheConsoleReadsThem) {
  const sim::Profile& p = sim::DefaultProfile();
  ASSERT_GT(p.gateCycles, 65535u);  // the figures below need the high word
  sim::Store s(p);
  EXPECT_EQ(s.Dm(111), p.gateCycles % 65535);
  EXPECT_EQ(s.Dm(112), p.gateCycles / 65535);
  EXPECT_EQ(s.Dm(112) * 65535 + s.Dm(111), static_cast<int>(p.gateCycles));  // 151234: 2 x 65535 + 20164
  EXPECT_EQ(s.Dm(113) + 65535 * s.Dm(114), static_cast<int>(p.accesses));
  EXPECT_EQ(s.Dm(117) + 65535 * s.Dm(118), static_cast<int>(p.onSeconds));
  EXPECT_EQ(s.Dm(119) + 65535 * s.Dm(120), static_cast<int>(p.hours) * 3600);

  // Exactly at the unit and one short of it.
  for (uint32_t v : {65534u, 65535u, 65536u, 131070u, 4294836225u}) {
    sim::Profile q = p;
    q.gateCycles = v;
    sim::Store t(q);
    SCOPED_TRACE(v);
    EXPECT_LT(t.Dm(111), 65535);
    EXPECT_EQ(uint64_t{t.Dm(112)} * 65535 + t.Dm(111), v);
  }
  // Beyond what two words can hold the counter stops at the top.
  sim::Profile full = p;
  full.gateCycles = 0xFFFFFFFFu;
  sim::Store u(full);
  EXPECT_EQ(u.Dm(112), 65535);
  EXPECT_EQ(u.Dm(111), 65534);
}

TEST(Climate, DriftsAroundTheSetPointAndDipsWhenTheGateOpens) {
  sim::Store s;
  int lo = 9999, hi = 0;
  for (uint64_t t = 0; t < 3600'000'000ull; t += 15'000'000) {
    s.AdvanceTo(t);
    const int temp = s.Dm(982);
    lo = std::min(lo, temp);
    hi = std::max(hi, temp);
    EXPECT_NEAR(s.Dm(983), 920, 10);
    EXPECT_NEAR(s.Dm(984), 500, 5);
  }
  EXPECT_GE(lo, 367);
  EXPECT_LE(hi, 373);
  EXPECT_GT(hi, lo);  // it moves

  const int before = s.Dm(982);
  s.Execute("ST 1901", 3600'000'000ull);
  s.AdvanceTo(3602'000'000ull);
  EXPECT_LT(s.Dm(982), before - 3);
  s.AdvanceTo(5400'000'000ull);  // half an hour later the control has it back
  EXPECT_NEAR(s.Dm(982), 370, 3);

  sim::Store freezer(P("freezer"));
  const uint16_t w = freezer.Dm(982);
  EXPECT_EQ(w & 0x8000, 0x8000);  // bit 15: below zero
  EXPECT_NEAR(w & 0x7FFF, 200, 3);
}

TEST(Profiles, CoverTheFirmwareThresholdsAndGeometriesTheConsoleTests) {
  bool below7000 = false, at7000 = false, lookUp = false, perCassette = false, biLevel = false, station = false,
       noStation = false, twin = false;
  for (size_t i = 0; i < sim::ProfileCount(); ++i) {
    const sim::Profile& p = sim::ProfileAt(i);
    sim::Store s(p);
    EXPECT_EQ(s.Dm(109), p.serial);
    EXPECT_EQ(s.Dm(108), p.firmware);
    EXPECT_EQ(s.Dm(29), p.positions);
    EXPECT_EQ(s.Relay(1703), p.directPath);
    EXPECT_EQ(s.Relay(3012), p.twoCarrousels);
    // Every slot of every cassette is within the lift's travel.
    for (int c = 1; c <= p.positions; ++c) {
      const int top = p.liftBase + p.levelPitch * (s.LevelsOf(c) - 1) + (c > p.firstGroup ? p.groupOffset : 0);
      EXPECT_LE(top, p.liftTravel) << p.name << " cassette " << c;
      EXPECT_EQ(s.Dm(250 + c), p.firmware >= 7104 ? s.LevelsOf(c) : 0) << p.name;
    }
    below7000 |= p.firmware < 7000;
    at7000 |= p.firmware == 7000;
    lookUp |= p.firmware >= 7014 && p.firmware < 7104;
    perCassette |= p.firmware >= 7104;
    biLevel |= p.positions > p.firstGroup;
    station |= p.transferStation;
    noStation |= !p.transferStation;
    twin |= p.twoCarrousels && p.firstGroup >= 20;
  }
  EXPECT_TRUE(below7000 && at7000 && lookUp && perCassette && biLevel && station && noStation && twin);
}

}  // namespace
