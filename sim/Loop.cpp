#include "sim/Loop.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/ControlCommands.h"

namespace sim {
namespace {

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint8_t Got(short revents) {
  uint8_t got = 0;
  if (revents & POLLIN) got |= kPollIn;
  if (revents & POLLHUP) got |= kPollHangUp;
  if (revents & POLLERR) got |= kPollError;
  if (revents & ~(POLLIN | POLLHUP | POLLERR)) got |= kPollOther;
  return got;
}

}  // namespace

uint64_t RunLoop(Line& line, ControlFile& control, AccessLog& accesses, const volatile std::sig_atomic_t* stop) {
  const uint64_t t0 = MonotonicUs();
  std::vector<PollEntry> polls;
  std::vector<size_t> firsts;  // each endpoint's first entry in polls
  std::vector<pollfd> fds;
  bool running = true;
  while (running && !*stop) {
    uint64_t now = MonotonicUs() - t0;
    // A regular control file is looked at ten times a second.
    const uint64_t maxWait = control.open() && !control.fifo() ? 100000 : 1000000;
    const uint64_t wait = WaitUs(line, now, maxWait);
    polls.clear();
    firsts.clear();
    for (auto& e : line.endpoints) {
      firsts.push_back(polls.size());
      e->AddPolls(polls, now);
    }
    firsts.push_back(polls.size());
    const bool waitControl = control.open() && control.fifo();
    if (waitControl) polls.push_back({control.fd(), kPollIn, 0});
    fds.clear();
    for (const PollEntry& p : polls) fds.push_back({p.fd, static_cast<short>(p.want & kPollIn ? POLLIN : 0), 0});
    timespec ts{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
    const int r = ppoll(fds.data(), fds.size(), &ts, nullptr);
    if (r < 0 && errno != EINTR) {
      std::fprintf(stderr, "vekton-sim: poll: %s\n", std::strerror(errno));
      break;
    }
    now = MonotonicUs() - t0;
    for (size_t i = 0; i < polls.size(); ++i) polls[i].got = r > 0 ? Got(fds[i].revents) : 0;
    for (size_t i = 0; i < line.endpoints.size(); ++i) {
      line.endpoints[i]->Handle(polls.data() + firsts[i], firsts[i + 1] - firsts[i], now);
    }
    if (control.open() && (!control.fifo() || (waitControl && polls.back().got))) {
      for (const std::string& text : control.Lines()) {
        const ControlResult result = ApplyControl(text, line, now);
        std::fputs(result.say.c_str(), stderr);
        if (result.quit) running = false;
      }
    }
    line.store.AdvanceTo(now);
    SendDue(line, now);
    accesses.WriteEnded(line.store);
  }
  return MonotonicUs() - t0;
}

}  // namespace sim
