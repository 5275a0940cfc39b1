// The console's own host-link layer talking to the simulated store through
// the virtual platform, on one virtual clock.
#include <gtest/gtest.h>

#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"

namespace {

class Harness : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    ComLib3Init();
    vt::AttachPort(1, &peer);
    ASSERT_EQ(KvOpenPort(1), 0);
  }
  void TearDown() override { ComClose(1); }
  std::string Ask(void (*op)(int, int32_t, ShortStr&), int32_t n) {
    ShortStr a;
    op(1, n, a);
    return a.str();
  }

  sim::StorePeer peer;
};

TEST_F(Harness, KvExchangeReadsTheSerialNumberAtTheLinesPace) {
  ShortStr a;
  KvCommRequest(1, a);
  EXPECT_EQ(a.str(), "CC");
  const uint64_t t0 = vt::NowUs();
  KvReadDm(1, 109, a);
  EXPECT_EQ(a.str(), "01234");
  // A read waits for 50 bytes or its time-out: one exchange costs a 52 ms
  // read on the virtual clock, as it does on the real line.
  EXPECT_GE(vt::NowUs() - t0, 52'000u);
  EXPECT_LT(vt::NowUs() - t0, 60'000u);
  KvReadTimer(1, 20, a);
  EXPECT_EQ(a.str(), "1");
  KvCommQuit(1, a);
  EXPECT_EQ(a.str(), "CF");
}

TEST_F(Harness, TheConsoleSeesPlateReadyAndReadyWhenTheStoreRecordsThem) {
  ShortStr a;
  KvWriteDm(1, 0, -1, a);  // goes out as 65535: cassette 1 of the look-up table
  EXPECT_EQ(a.str(), "OK");
  KvWriteDm(1, 5, 1, a);
  KvSetRelay(1, 1908, a);
  EXPECT_EQ(a.str(), "OK");
  const uint64_t sent = vt::NowUs();
  KvWaitRelay(1, 1815);
  const uint64_t plate = vt::NowUs();
  KvWaitRelay(1, 1915);
  const uint64_t ready = vt::NowUs();

  ASSERT_EQ(peer.store().Accesses().size(), 1u);
  const sim::AccessRecord& r = peer.store().Accesses()[0];
  EXPECT_EQ(r.result, sim::AccessResult::Ok);
  EXPECT_EQ(r.dm0, 65535);
  EXPECT_LT(r.startUs, sent);
  // Each change shows at the console's next poll: 200 ms and one exchange
  // later, and the wait returns once that poll's answer is read.
  EXPECT_GE(plate, r.plateReadyUs);
  EXPECT_LT(plate - r.plateReadyUs, 320'000u);
  EXPECT_GE(ready, r.readyUs);
  EXPECT_LT(ready - r.readyUs, 320'000u);
  EXPECT_EQ(Ask(KvReadRelay, 1812), "1");  // the plate is on the shovel
  EXPECT_EQ(peer.store().ShovelPlate(), 1);
}

TEST_F(Harness, AnHourOfAccessesRunsOnTheVirtualClock) {
  // The plate walks from slot to slot for an hour of store time.
  ShortStr a;
  int cassette = 1, level = 1, sent = 0;
  while (vt::NowUs() < 3600'000'000ull) {
    KvWriteDm(1, 0, -cassette, a);
    KvWriteDm(1, 5, level, a);
    KvSetRelay(1, 1908, a);
    KvWaitRelay(1, 1915);
    cassette = cassette % 9 + 1;
    level = level % 11 + 1;
    KvWriteDm(1, 0, -cassette, a);
    KvWriteDm(1, 5, level, a);
    KvSetRelay(1, 1909, a);
    KvWaitRelay(1, 1915);
    sent += 2;
  }
  const sim::Counts& c = peer.store().counts();
  EXPECT_GT(sent, 500);
  EXPECT_EQ(c.accesses, static_cast<uint32_t>(sent));
  EXPECT_EQ(c.errors, 0u);
  EXPECT_EQ(peer.store().Plate(cassette, level), 1);
  EXPECT_EQ(KvValue(Ask(KvReadDm, 110)), static_cast<int32_t>(sim::DefaultProfile().hours + 1));
}

}  // namespace
