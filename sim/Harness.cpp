#include "sim/Harness.h"

namespace sim {

StorePeer::StorePeer(const Profile& profile, const Options& options) : store_(profile, options) {}

void StorePeer::OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) {
  pieces_.clear();
  store_.Receive(byte, tUs, pieces_);
  for (const Piece& p : pieces_) out.Send(p.atUs, p.bytes);
}

void StorePeer::AdvanceTo(uint64_t tUs, vt::Sink& /*out*/) { store_.AdvanceTo(tUs); }

}  // namespace sim
