// Helpers for driving the store directly on its own clock.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Store.h"

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

#include "sim/line/Line.h"

namespace simtest {

// An endpoint of the line that only keeps what reaches it.
struct FakeEndpoint : sim::Endpoint {
  bool Open(bool) override { return true; }
  void Vanish(uint64_t) override { ++vanished; }
  void Return() override { ++returned; }
  void Close(uint64_t) override {}
  void AddPolls(std::vector<sim::PollEntry>&, uint64_t) override {}
  void Handle(const sim::PollEntry*, size_t, uint64_t) override {}
  void Deliver(const sim::Owed& answer, uint64_t nowUs) override {
    received += answer.bytes;
    lastUs = nowUs;
  }

  uint32_t session = 0;  // of what it hears
  std::string received;
  uint64_t lastUs = 0;
  int vanished = 0, returned = 0;
};

// A store on a line with two fake endpoints, 0 and 1, and no trace file.
struct LineRig {
  LineRig() {
    line.endpoints.push_back(std::make_unique<FakeEndpoint>());
    line.endpoints.push_back(std::make_unique<FakeEndpoint>());
  }
  FakeEndpoint& at(int id) { return static_cast<FakeEndpoint&>(*line.endpoints[static_cast<size_t>(id)]); }
  // Bytes from endpoint id's peer at tUs, gathered in its own command line.
  void Hear(int id, std::string_view bytes, uint64_t tUs) {
    sim::Hear(line, id, at(id).session, gathered[id], reinterpret_cast<const unsigned char*>(bytes.data()),
              bytes.size(), tUs);
  }

  // As in vekton-sim: bytes go at once, so an answer is due when its line ends.
  sim::Store store{sim::DefaultProfile(), sim::Options{.latencyUs = 0, .byteUs = 0}};
  sim::TraceLog trace;
  sim::Line line{store, trace};
  std::string gathered[2];
};

}  // namespace simtest
