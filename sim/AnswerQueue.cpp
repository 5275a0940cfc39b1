#include "sim/AnswerQueue.h"

#include <algorithm>

namespace sim {

void AnswerQueue::Push(std::vector<Piece>& pieces, int endpoint, uint32_t session) {
  for (Piece& p : pieces) {
    if (bytes_ + p.bytes.size() > kMaxOwedBytes) continue;
    bytes_ += p.bytes.size();
    due_.push_back({p.atUs, std::move(p.bytes), endpoint, session});
  }
}

bool AnswerQueue::PopDue(uint64_t nowUs, Owed& out) {
  if (due_.empty() || due_.front().atUs > nowUs) return false;
  out = std::move(due_.front());
  due_.pop_front();
  bytes_ -= out.bytes.size();
  return true;
}

void AnswerQueue::Drop(int endpoint) {
  for (auto it = due_.begin(); it != due_.end();) {
    if (it->endpoint == endpoint) {
      bytes_ -= it->bytes.size();
      it = due_.erase(it);
    } else {
      ++it;
    }
  }
}

bool AnswerQueue::Owes(int endpoint, uint32_t session) const {
  return std::any_of(due_.begin(), due_.end(),
                     [&](const Owed& d) { return d.endpoint == endpoint && d.session == session; });
}

}  // namespace sim
