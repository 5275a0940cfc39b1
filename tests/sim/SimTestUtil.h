// Helpers for driving the store directly on its own clock.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/store.h"

namespace simtest {

// Sends a line byte by byte at tUs (add the CR yourself) and returns every
// byte the store put on the line, in order.
inline std::string Send(sim::Store& s, std::string_view bytes, uint64_t tUs,
                        std::vector<sim::Piece>* pieces = nullptr) {
  std::vector<sim::Piece> out;
  for (char c : bytes) s.Receive(static_cast<uint8_t>(c), tUs, out);
  std::string all;
  for (const sim::Piece& p : out) all += p.bytes;
  if (pieces) *pieces = out;
  return all;
}

// A store on a clock the test moves by hand.
class StoreTest : public ::testing::Test {
 protected:
  explicit StoreTest(const sim::Profile& profile = sim::DefaultProfile(), sim::Options options = {})
      : store(profile, options) {}

  std::string Cmd(std::string_view line) { return store.Execute(line, now); }
  bool On(int relay) { return Cmd("RD " + std::to_string(relay)) == "1"; }
  int Word(int dm) { return std::stoi(Cmd("RD DM" + std::to_string(dm))); }
  void Wait(uint64_t us) {
    now += us;
    store.AdvanceTo(now);
  }
  // Steps the clock 10 ms at a time until done() or the limit; returns the
  // time it took, or UINT64_MAX on the limit.
  uint64_t Until(const std::function<bool()>& done, uint64_t limitUs = 60'000'000) {
    const uint64_t start = now;
    while (now - start < limitUs) {
      if (done()) return now - start;
      Wait(10'000);
    }
    return UINT64_MAX;
  }
  uint64_t UntilReady(uint64_t limitUs = 60'000'000) {
    return Until([this] { return On(1915); }, limitUs);
  }

  sim::Store store;
  uint64_t now = 1'000'000;
};

}  // namespace simtest
