// The simulated store on the virtual platform: plug a StorePeer in as the far
// end of a virtual serial port and the console's own code talks to the store
// on the same virtual clock, so a screen can be driven through hours of store
// time in a second of test time.
//
//   sim::StorePeer store;                 // the standard profile
//   vt::AttachPort(1, &store);
//   ... run the console code against port 1 ...
//   EXPECT_EQ(store.store().counts().accesses, 42u);
#pragma once
#include <vector>

#include "platform/virtual/Virtual.h"
#include "sim/Store.h"

namespace sim {

class StorePeer : public vt::SerialPeer {
 public:
  explicit StorePeer(const Profile& profile = DefaultProfile(), const Options& options = {});

  Store& store() { return store_; }
  const Store& store() const { return store_; }

  // A byte the program wrote: the store hears it and, at the end of a line,
  // its answer is queued on the port at the times the line would carry it.
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override;
  // The program looks at its input: the store catches up with the clock.
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override;

 private:
  Store store_;
  std::vector<Piece> pieces_;
};

}  // namespace sim
