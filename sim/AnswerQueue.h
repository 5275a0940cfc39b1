// The answers the simulator owes, over every endpoint of the line, in the
// order the store gave them. Each is owed to one endpoint and to one of its
// sessions (a TCP client; a replaced client is owed nothing).
//
// Answers leave in that order: a late one (a slow fault) holds back the ones
// queued after it, as bytes do in a controller's send buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/Store.h"

namespace sim {

// Owed bytes over all endpoints. Only a peer that floods commands into a
// slow answer fault comes near it; beyond it answers are lost, as bytes are
// when a controller's send buffer overflows.
constexpr size_t kMaxOwedBytes = 1u << 20;

struct Owed {
  uint64_t atUs = 0;  // when it is due
  std::string bytes;
  int endpoint = 0;
  uint32_t session = 0;
};

class AnswerQueue {
 public:
  // Takes the store's pieces (moved out) for endpoint and session; a piece
  // that would pass kMaxOwedBytes is dropped, the rest still queued.
  void Push(std::vector<Piece>& pieces, int endpoint, uint32_t session);
  // Takes the first answer if it is due by nowUs.
  bool PopDue(uint64_t nowUs, Owed& out);
  // The line to an endpoint went: nothing is owed to it any more.
  void Drop(int endpoint);
  bool Owes(int endpoint, uint32_t session) const;
  // When the first answer is due; UINT64_MAX when none is owed.
  uint64_t NextUs() const { return due_.empty() ? UINT64_MAX : due_.front().atUs; }
  size_t count() const { return due_.size(); }
  size_t bytes() const { return bytes_; }

 private:
  std::deque<Owed> due_;
  size_t bytes_ = 0;
};

}  // namespace sim
