#include "trace/Exchanges.h"

#include <algorithm>
#include <cstdio>

namespace trace {
namespace {

// A command or an answer is some tens of bytes; a line that sends on and on
// without its CR or LF keeps this much of it, so that a day of noise cannot
// grow one exchange without end.
constexpr size_t kMaxExchangeBytes = size_t{64} << 10;

void AppendMs(uint64_t us, std::string& out) {
  // Rounded to a tenth, in whole numbers so that no binary fraction rounds
  // a 12.35 down.
  const uint64_t tenths = (us + 50) / 100;
  out += std::to_string(tenths / 10);
  out += '.';
  out += static_cast<char>('0' + tenths % 10);
}

std::string Ms(uint64_t us) {
  std::string s;
  AppendMs(us, s);
  return s;
}

}  // namespace

void AppendExchangeLine(const Exchange& e, std::string& out) {
  out += FormatWallClock(e.wallUs, e.offsetMinutes);
  out += '\t';
  EscapeBytes(e.command, out);
  out += '\t';
  if (e.answered) {
    EscapeBytes(e.answer, out);
    out += '\t';
    AppendMs(e.answerUs, out);
  } else {
    out += "no answer\t-";
  }
  out += '\n';
}

void Pairing::End() {
  if (state_ == State::kIdle) return;
  if (e_.answered) {
    // The answer without its CR LF (or what came of it).
    if (!e_.answer.empty() && e_.answer.back() == '\n') e_.answer.pop_back();
    if (!e_.answer.empty() && e_.answer.back() == '\r') e_.answer.pop_back();
  }
  done_(e_);
  state_ = State::kIdle;
}

void Pairing::Finish() { End(); }

void Pairing::Feed(const Record& r) {
  switch (r.word) {
    case Word::kTx:
      for (const char c : r.payload) {
        if (c == '\r' && state_ != State::kCommand) {
          // An empty line, which the controller does not answer: no command
          // (the console's polls end with a second CR). Like any byte sent,
          // it ends an answer that has begun.
          if (state_ == State::kAnswer) End();
          continue;
        }
        if (state_ == State::kWaiting || state_ == State::kAnswer) End();
        if (state_ == State::kIdle) {
          e_.wallUs = r.wallUs;
          e_.offsetMinutes = r.offsetMinutes;
          e_.sinceUs = r.sinceUs;
          e_.command.clear();
          e_.answer.clear();
          e_.answered = false;
          e_.answerUs = 0;
          state_ = State::kCommand;
        }
        if (c == '\r') {
          state_ = State::kWaiting;
        } else if (e_.command.size() < kMaxExchangeBytes) {
          e_.command += c;
        }
      }
      break;
    case Word::kRx:
      for (const char c : r.payload) {
        if (state_ == State::kWaiting) {
          e_.answered = true;
          e_.answerUs = r.sinceUs > e_.sinceUs ? r.sinceUs - e_.sinceUs : 0;
          state_ = State::kAnswer;
        }
        if (state_ != State::kAnswer) continue;  // nobody asked
        if (e_.answer.size() < kMaxExchangeBytes) e_.answer += c;
        if (c == '\n') End();
      }
      break;
    case Word::kPurge:
    case Word::kOpen:
    case Word::kClose:
    case Word::kLost:
    case Word::kEsc: End(); break;
    case Word::kHead: {
      // A run's first file begins a new run; a continuation goes on with it.
      Header h;
      if (!ParseHeader(r.payload, h) || h.part <= 1) End();
      break;
    }
    default: break;
  }
}

void LossWatch::Feed(const Record& r) {
  if (r.word == Word::kHead) {
    Header h;
    if (!ParseHeader(r.payload, h) || h.part <= 1) Finish();
  }
  lastUs_ = r.sinceUs;
  if (r.word == Word::kLost && !lost_) {
    lost_ = true;
    loss_.wallUs = r.wallUs;
    loss_.offsetMinutes = r.offsetMinutes;
    lostUs_ = r.sinceUs;
  } else if (r.word == Word::kBack && lost_) {
    Finish();
  }
}

void LossWatch::Finish() {
  if (!lost_) return;
  loss_.lengthUs = lastUs_ > lostUs_ ? lastUs_ - lostUs_ : 0;
  lost_ = false;
  done_(loss_);
}

void AddExchange(Stats& s, const Exchange& e) {
  ++s.exchanges;
  if (!e.answered) {
    ++s.noAnswer;
    return;
  }
  s.answerUs.push_back(e.answerUs);
  if (e.answer.size() == 2 && e.answer[0] == 'E' && e.answer[1] >= '0' && e.answer[1] <= '9')
    ++s.errors[static_cast<size_t>(e.answer[1] - '0')];
}

void AddLoss(Stats& s, const Loss& l) {
  ++s.losses;
  s.lossTotalUs += l.lengthUs;
  s.lossLongestUs = std::max(s.lossLongestUs, l.lengthUs);
}

std::string FormatStats(Stats& s) {
  std::string out;
  out += "Exchanges:          " + std::to_string(s.exchanges) + "\n";
  out += "Answer time [ms]:   ";
  if (s.answerUs.empty()) {
    out += "none answered\n";
  } else {
    std::vector<uint64_t>& t = s.answerUs;
    std::sort(t.begin(), t.end());
    const size_t n = t.size();
    const uint64_t median = n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
    const size_t rank = (n * 99 + 99) / 100;  // ceil(0.99 n), at least 1
    out +=
        "min " + Ms(t.front()) + "  median " + Ms(median) + "  p99 " + Ms(t[rank - 1]) + "  max " + Ms(t.back()) + "\n";
  }
  out += "No answer:          " + std::to_string(s.noAnswer) + "\n";
  out += "Error answers:      ";
  bool any = false;
  for (size_t i = 0; i < s.errors.size(); ++i) {
    if (s.errors[i] == 0) continue;
    if (any) out += "  ";
    out += "E" + std::to_string(i) + " " + std::to_string(s.errors[i]);
    any = true;
  }
  out += any ? "\n" : "none\n";
  out += "Line losses:        " + std::to_string(s.losses);
  if (s.losses > 0) {
    char buf[96];
    std::snprintf(buf, sizeof buf, ", %.3f s in all, longest %.3f s", static_cast<double>(s.lossTotalUs) / 1e6,
                  static_cast<double>(s.lossLongestUs) / 1e6);
    out += buf;
  }
  out += "\n";
  return out;
}

}  // namespace trace
