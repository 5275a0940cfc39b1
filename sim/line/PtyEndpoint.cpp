// The pseudo-terminal: vekton-sim's serial line. It prints "PTY <slave>" once
// the port is ready and can leave a symlink to the slave (--link).
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/line/Endpoints.h"

namespace sim {
namespace {

// With nobody on the slave, Linux reports a hang-up on every poll: the
// master is looked at again only this much later instead of spinning.
constexpr uint64_t kHangUpPauseUs = 5000;

class PtyEndpoint : public Endpoint {
 public:
  PtyEndpoint(Line& line, int id, std::string link) : line_(line), id_(id), link_(std::move(link)) {}

  bool Open(bool vanished) override {
    if (!vanished) return OpenPort();
    std::printf("PTY -\n");  // there is no port until the fault is cleared
    std::fflush(stdout);
    return true;
  }
  void Vanish(uint64_t) override { ClosePort(); }
  void Return() override { OpenPort(); }
  void Close(uint64_t) override { ClosePort(); }

  void AddPolls(std::vector<PollEntry>& polls, uint64_t now) override {
    polled_ = master_ >= 0 && now >= hupUntil_;
    if (polled_) polls.push_back({master_, kPollIn, 0});
  }

  void Handle(const PollEntry* polls, size_t n, uint64_t now) override {
    if (!polled_ || n < 1) return;
    if (polls[0].got & kPollIn) {
      ReadPort(now);
    } else if (polls[0].got & (kPollHangUp | kPollError)) {
      hupUntil_ = now + kHangUpPauseUs;
    }
  }

  uint64_t PauseUs(uint64_t now) const override {
    return master_ >= 0 && now < hupUntil_ ? hupUntil_ - now : UINT64_MAX;
  }

  void Deliver(const Owed& answer, uint64_t) override {
    if (master_ < 0) return;
    // Nobody reading and the buffer full: the bytes are lost, as on a line.
    const ssize_t n = write(master_, answer.bytes.data(), answer.bytes.size());
    (void)n;
  }

 private:
  bool OpenPort() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
      std::fprintf(stderr, "vekton-sim: openpty: %s\n", std::strerror(errno));
      return false;
    }
    // Raw until the console sets its own line: no echo, no translation.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetispeed(&tio, B9600);
      cfsetospeed(&tio, B9600);
      tcsetattr(slave, TCSANOW, &tio);
    }
    // The slave is closed again: holding it would keep the console's
    // exclusive-open flag on the terminal alive after the console lets go.
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slaveName_ = name;
    std::printf("PTY %s\n", name);
    std::fflush(stdout);
    if (!link_.empty()) {
      unlink(link_.c_str());
      if (symlink(name, link_.c_str()) != 0) {
        std::fprintf(stderr, "vekton-sim: cannot link %s: %s\n", link_.c_str(), std::strerror(errno));
      }
    }
    hupUntil_ = 0;
    gathered_.clear();
    return true;
  }

  void ClosePort() {
    if (master_ >= 0) close(master_);
    master_ = -1;
    line_.owed.Drop(id_);
    gathered_.clear();
    RemoveLink();
  }

  // Only a link that still points at this slave is ours to remove.
  void RemoveLink() {
    if (link_.empty()) return;
    char target[256] = {};
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && slaveName_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
  }

  void ReadPort(uint64_t now) {
    unsigned char buf[4096];
    for (size_t total = 0; total < kMaxReadPerTurn;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        Hear(line_, id_, 0, gathered_, buf, static_cast<size_t>(n), now);
        total += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // EIO: nobody has the slave open.
      if (n < 0 && errno == EIO) hupUntil_ = now + kHangUpPauseUs;
      break;
    }
    SendDue(line_, now);
  }

  Line& line_;
  const int id_;
  const std::string link_;
  std::string slaveName_;
  int master_ = -1;
  bool polled_ = false;
  uint64_t hupUntil_ = 0;
  std::string gathered_;
};

}  // namespace

std::unique_ptr<Endpoint> MakePtyEndpoint(const SimOptions& options, Line& line, int id) {
  return std::make_unique<PtyEndpoint>(line, id, options.link);
}

}  // namespace sim
