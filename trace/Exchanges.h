// Commands paired with their answers, and the figures of a trace. A pure
// unit: records in, exchanges and text out.
//
// The recorder writes an exchange as PURGE, the command's bytes in one TX
// record (or several, when typed a byte at a time) up to its CR, and the
// answer's bytes in RX records as they arrived, up to the LF of its CR LF.
// An exchange ends with that LF. It ends without an answer when the next
// command's bytes, a PURGE, OPEN, CLOSE, LOST or ESC, a new run's HEAD or the
// end of the reading come first; with a part of an answer when they come
// after its first bytes. A CR sent on its own, an empty line (the console's
// polls end with a second CR), is no command: the controller answers none.
// RX bytes while no command waits are not an answer to anything and are left
// out. A command or an answer is kept up to 64 KiB.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/TraceRecord.h"

namespace trace {

struct Exchange {
  int64_t wallUs = 0;  // the command's first TX record
  int offsetMinutes = 0;
  uint64_t sinceUs = 0;
  std::string command;  // its bytes, without the CR
  bool answered = false;
  std::string answer;  // the answer's bytes, without the CR LF
  // The first RX piece's time minus the command's first TX record's, on the
  // run's clock (as Wireshark's dissector of these files times it).
  uint64_t answerUs = 0;
};

// The exchange as one line of --exchanges: the command's wall clock as its
// record has it, the command, the answer or "no answer", and the answer time
// in milliseconds with one decimal ("-" without an answer), separated by
// tabs (command and answer are escaped as in records, so they hold none).
void AppendExchangeLine(const Exchange& e, std::string& out);

class Pairing {
 public:
  explicit Pairing(std::function<void(const Exchange&)> done) : done_(std::move(done)) {}
  void Feed(const Record& r);
  // The end of a run or of the reading: an exchange still open ends.
  void Finish();

 private:
  enum class State : uint8_t { kIdle, kCommand, kWaiting, kAnswer };
  void End();
  std::function<void(const Exchange&)> done_;
  State state_ = State::kIdle;
  Exchange e_;
};

// Line losses: a LOST up to the BACK after it; one never back counts up to
// the last record of its run.
struct Loss {
  int64_t wallUs = 0;
  int offsetMinutes = 0;
  uint64_t lengthUs = 0;
};
class LossWatch {
 public:
  explicit LossWatch(std::function<void(const Loss&)> done) : done_(std::move(done)) {}
  void Feed(const Record& r);
  void Finish();

 private:
  std::function<void(const Loss&)> done_;
  bool lost_ = false;
  Loss loss_;
  uint64_t lostUs_ = 0, lastUs_ = 0;
};

struct Stats {
  int64_t exchanges = 0, noAnswer = 0;
  std::vector<uint64_t> answerUs;    // of every answered exchange
  std::array<int64_t, 10> errors{};  // answers that are exactly E0 .. E9
  int64_t losses = 0;
  uint64_t lossTotalUs = 0, lossLongestUs = 0;
};
void AddExchange(Stats& s, const Exchange& e);
void AddLoss(Stats& s, const Loss& l);
// The --stats text. The median of an even count is the mean of the middle
// two; the 99th percentile is the nearest rank (the smallest time that at
// least 99 % of the answers do not exceed). Sorts s.answerUs.
std::string FormatStats(Stats& s);

}  // namespace trace
