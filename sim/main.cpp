// vekton-sim: the simulated store on a pseudo-terminal, on the real clock.
//
// One thread, one poll loop: bytes from the console go into the store the
// moment they arrive, its answers go out when they are due (at once, unless
// a fault delays them), and between bytes the loop sleeps until the next
// answer, the next mechanical event or the next control command.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/store.h"

namespace {

const char kHelp[] = R"(Usage: vekton-sim [options]

A simulated Vekton plate store and its KV-PLC on a pseudo-terminal. It prints
  PTY <slave path>
on stdout once the port is ready; point the console at it, for example with
VEKTON_COM1=<slave path> (or use --link). Ends cleanly on SIGINT or SIGTERM.

Options:
  --profile NAME     the store to simulate (default: standard); see below
  --list-profiles    print the profiles and exit
  --speed F          mechanics F times faster than real time (default 1);
                     answers on the line are always prompt
  --link PATH        leave a symlink to the slave at PATH (replaced if it
                     exists, removed at exit)
  --trace FILE       log every line received and every answer sent:
                       <seconds since start, 6 decimals> RX <bytes>
                       <seconds since start, 6 decimals> TX <bytes>
                     bytes escaped as \r \n \\ and \xHH for bytes outside
                     0x20..0x7E, so a typed RD DM0 shows as "RX RD DM0\r";
                     one event per line, flushed as written
  --accesses FILE    record every plate access the store performs (relays
                     1904..1909), one line each when it ends:
                       <n> <relay> <DM0> <cassette> <level> <start> <plate> <ready> <result>
                     times in seconds since start (6 decimals) when the relay
                     command arrived, PlateReady came on and the access ended
                     ("-" = never); result: ok, slot-empty, slot-full,
                     shovel-empty, shovel-full, station-empty, station-full,
                     bad-address (those raise ErrorFlag 1814) or aborted
                     (cut short by a system reset)
  --fault NAME[:MS]  start with a fault (see below)
  --control PATH     read commands from PATH while running: a FIFO (created
                     when PATH does not exist, removed at exit) or a regular
                     file that is read from its start and then followed
  --plates LAYOUT    plates in the store at start: empty, one (1.1, default),
                     three (1.1 to 1.3), full (every slot)
  --seed N           seed of the mechanical jitter and line noise (default 1)
  --help             this text

Faults (at start with --fault, while running with "fault NAME [MS]"):
  none       a healthy store and line
  silent     the line is dead: commands are neither heard nor answered
  slow       every answer comes MS late (default 80 ms: past one 52 ms read)
  split      every answer in two pieces MS apart (default 60 ms: more than
             one read time-out)
  garbage    three stray bytes of line noise before every answer
  error      every command but CR and CQ is refused with "E1"
  notready   the store hangs: what moves finishes, nothing new starts, and
             Ready (relay 1915) stays off until the fault is cleared
  vanish     the port goes away: the pseudo-terminal is closed and the link
             removed; a later fault command opens a new one, prints a new
             "PTY <path>" line and points the link at it (started with
             --fault vanish, the first line reads "PTY -")

Control commands (one per line; blank lines and lines starting with # are
skipped):
  fault NAME [MS]    switch the fault as above
  speed F            change the speed factor
  plates LAYOUT      lay the plates out anew (shovel and station emptied)
  exec LINE          act on a host-link command line as if it came from the
                     line (answer on stderr), e.g. "exec WR DM211 0"
  quit               end the simulator

On the line the store answers like a KV-PLC: CR -> CC, CQ -> CF, WR DMn v ->
OK, ST n / RS n -> OK, RD DMn -> five digits, RD n -> 0 or 1 (relay n =
channel * 100 + bit 00..15), RD Tn -> "c,ccccc,ppppp" (contact, current and
preset in 10 ms units), E0 for a device that does not exist, E1 for anything
else it cannot take (unknown command, bad syntax, binary bytes, a line over
255 characters). An empty line gets no answer.
)";

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Seconds(uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                static_cast<unsigned long long>(us % 1000000));
  return text;
}

bool ParseFaultArg(std::string_view text, sim::Fault& f, uint32_t& ms) {
  ms = 0;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string num(text.substr(colon + 1));
    char* end = nullptr;
    const unsigned long v = std::strtoul(num.c_str(), &end, 10);
    if (num.empty() || *end != '\0' || v > 600000) return false;
    ms = static_cast<uint32_t>(v);
    text = text.substr(0, colon);
  }
  return sim::ParseFault(text, f);
}

struct Due {
  uint64_t at;
  std::string bytes;
};

class Simulator {
 public:
  Simulator(sim::Store& store, std::FILE* trace, std::FILE* accesses, std::string link)
      : store_(store), trace_(trace), accesses_(accesses), link_(std::move(link)) {}

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
    return true;
  }

  void ClosePort() {
    if (master_ >= 0) close(master_);
    master_ = -1;
    due_.clear();
    RemoveLink();
  }

  void RemoveLink() {
    if (link_.empty()) return;
    char target[256] = {};
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && slaveName_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
  }

  int master() const { return master_; }
  bool listening(uint64_t now) const { return master_ >= 0 && now >= hupUntil_; }

  // Microseconds until something is due, capped at maxUs.
  uint64_t Wait(uint64_t now, uint64_t maxUs) const {
    uint64_t wait = maxUs;
    if (!due_.empty()) wait = std::min(wait, due_.front().at > now ? due_.front().at - now : 0);
    const uint64_t next = store_.NextEventUs();
    if (next != UINT64_MAX) wait = std::min(wait, next > now ? next - now : 0);
    if (master_ >= 0 && now < hupUntil_) wait = std::min(wait, hupUntil_ - now);
    return wait;
  }

  void ReadPort(uint64_t now) {
    unsigned char buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        for (ssize_t i = 0; i < n; ++i) Hear(buf[i], now);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // EIO: nobody has the slave open. Linux then reports a hang-up on every
      // poll, so look again only now and then instead of spinning.
      if (n < 0 && errno == EIO) hupUntil_ = now + 5000;
      break;
    }
    SendDue(now);
  }

  void NoteHangUp(uint64_t now) { hupUntil_ = now + 5000; }

  void SendDue(uint64_t now) {
    while (!due_.empty() && due_.front().at <= now) {
      const Due d = std::move(due_.front());
      due_.pop_front();
      Trace(now, "TX", d.bytes);
      if (master_ < 0) continue;
      // Nobody reading and the buffer full: the bytes are lost, as on a line.
      const ssize_t n = write(master_, d.bytes.data(), d.bytes.size());
      (void)n;
    }
  }

  void Hear(unsigned char byte, uint64_t now) {
    pieces_.clear();
    if (store_.Receive(byte, now, pieces_)) Trace(now, "RX", store_.LastLine() + "\r");
    for (sim::Piece& p : pieces_) due_.push_back({p.atUs, std::move(p.bytes)});
  }

  void Trace(uint64_t now, const char* what, std::string_view bytes) {
    if (!trace_) return;
    std::fprintf(trace_, "%s %s %s\n", Seconds(now).c_str(), what, Escape(bytes).c_str());
    std::fflush(trace_);
  }

  void WriteAccesses() {
    const auto& list = store_.Accesses();
    while (written_ < list.size() && list[written_].result != sim::AccessResult::Running) {
      const sim::AccessRecord& a = list[written_++];
      if (!accesses_) continue;
      auto time = [](uint64_t us) { return us ? Seconds(us) : std::string("-"); };
      std::fprintf(accesses_, "%u %u %u %d %d %s %s %s %s\n", a.number, a.relay, a.dm0, a.cassette, a.level,
                   Seconds(a.startUs).c_str(), time(a.plateReadyUs).c_str(), time(a.readyUs).c_str(),
                   sim::AccessResultName(a.result));
      std::fflush(accesses_);
    }
    if (written_ == list.size() && written_ > 0) {
      store_.ClearAccesses();  // keeps a week-long run from growing
      written_ = 0;
    }
  }

 private:
  sim::Store& store_;
  std::FILE* trace_;
  std::FILE* accesses_;
  std::string link_;
  std::string slaveName_;
  int master_ = -1;
  uint64_t hupUntil_ = 0;
  std::deque<Due> due_;
  std::vector<sim::Piece> pieces_;
  size_t written_ = 0;
};

// Commands from --control: a FIFO, or a file followed as it grows.
class Control {
 public:
  bool Open(const std::string& path) {
    path_ = path;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      if (mkfifo(path.c_str(), 0600) != 0) {
        std::fprintf(stderr, "vekton-sim: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
      }
      created_ = true;
      fifo_ = true;
    } else {
      fifo_ = S_ISFIFO(st.st_mode);
    }
    // A FIFO opened for writing too never reports a hang-up when a writer
    // closes, so one open serves every writer that comes.
    fd_ = open(path.c_str(), (fifo_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      std::fprintf(stderr, "vekton-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (created_) unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  bool fifo() const { return fifo_; }

  // Reads what came and hands back the complete lines.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    if (fd_ < 0) return lines;
    char buf[1024];
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        partial_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
    if (partial_.size() > 4096) partial_.clear();
    return lines;
  }

 private:
  std::string path_;
  std::string partial_;
  int fd_ = -1;
  bool fifo_ = false;
  bool created_ = false;
};

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

// Returns false for "quit".
bool Apply(const std::string& raw, sim::Store& store, Simulator& simulator, uint64_t now) {
  const std::string line = Trim(raw);
  if (line.empty() || line[0] == '#') return true;
  const size_t blank = line.find(' ');
  const std::string word = line.substr(0, blank);
  const std::string rest = blank == std::string::npos ? "" : Trim(line.substr(blank + 1));
  if (word == "quit") return false;
  if (word == "fault") {
    std::string name = rest;
    const size_t sp = rest.find(' ');
    if (sp != std::string::npos) name = rest.substr(0, sp) + ":" + Trim(rest.substr(sp + 1));
    sim::Fault f;
    uint32_t ms = 0;
    if (!ParseFaultArg(name, f, ms)) {
      std::fprintf(stderr, "vekton-sim: unknown fault \"%s\"\n", rest.c_str());
      return true;
    }
    const bool wasGone = store.fault() == sim::Fault::Vanish;
    store.AdvanceTo(now);
    store.SetFault(f, ms);
    if (f == sim::Fault::Vanish && !wasGone) simulator.ClosePort();
    if (f != sim::Fault::Vanish && wasGone) simulator.OpenPort();
    std::fprintf(stderr, "vekton-sim: fault %s\n", sim::FaultName(f));
    return true;
  }
  if (word == "speed") {
    char* end = nullptr;
    const double f = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !(f > 0)) {
      std::fprintf(stderr, "vekton-sim: bad speed \"%s\"\n", rest.c_str());
      return true;
    }
    store.AdvanceTo(now);
    store.SetSpeed(f);
    return true;
  }
  if (word == "plates") {
    sim::PlateLayout p;
    if (!sim::ParsePlateLayout(rest, p)) {
      std::fprintf(stderr, "vekton-sim: unknown plate layout \"%s\"\n", rest.c_str());
      return true;
    }
    store.AdvanceTo(now);
    store.SetPlates(p);
    return true;
  }
  if (word == "exec") {
    const std::string answer = store.Execute(rest.substr(0, sim::kMaxLine + 1), now);
    std::fprintf(stderr, "vekton-sim: %s -> %s\n", rest.c_str(), answer.c_str());
    return true;
  }
  std::fprintf(stderr, "vekton-sim: unknown control command \"%s\"\n", line.c_str());
  return true;
}

void ListProfiles() {
  for (size_t i = 0; i < sim::ProfileCount(); ++i) {
    const sim::Profile& p = sim::ProfileAt(i);
    std::printf("%-10s serial %u: %s\n", p.name, p.serial, p.summary);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const sim::Profile* profile = &sim::DefaultProfile();
  sim::Options options;
  options.latencyUs = 0;  // a pseudo-terminal carries bytes at once
  options.byteUs = 0;
  std::string link, tracePath, accessPath, controlPath;
  sim::Fault fault = sim::Fault::None;
  uint32_t faultMs = 0;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vekton-sim: %s needs a value (see --help)\n", arg.c_str());
        std::exit(2);
      }
      out = argv[++i];
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      std::printf("\nProfiles:\n");
      ListProfiles();
      return 0;
    } else if (arg == "--list-profiles") {
      ListProfiles();
      return 0;
    } else if (arg == "--profile") {
      value(v);
      profile = sim::FindProfile(v);
      if (!profile) {
        std::fprintf(stderr, "vekton-sim: unknown profile \"%s\"; try --list-profiles\n", v.c_str());
        return 2;
      }
    } else if (arg == "--speed") {
      value(v);
      char* end = nullptr;
      options.speed = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(options.speed >= 0.01 && options.speed <= 1000)) {
        std::fprintf(stderr, "vekton-sim: --speed wants a number from 0.01 to 1000\n");
        return 2;
      }
    } else if (arg == "--link") {
      value(link);
    } else if (arg == "--trace") {
      value(tracePath);
    } else if (arg == "--accesses") {
      value(accessPath);
    } else if (arg == "--control") {
      value(controlPath);
    } else if (arg == "--fault") {
      value(v);
      if (!ParseFaultArg(v, fault, faultMs)) {
        std::fprintf(stderr, "vekton-sim: unknown fault \"%s\" (see --help)\n", v.c_str());
        return 2;
      }
    } else if (arg == "--plates") {
      value(v);
      if (!sim::ParsePlateLayout(v, options.plates)) {
        std::fprintf(stderr, "vekton-sim: unknown plate layout \"%s\" (see --help)\n", v.c_str());
        return 2;
      }
    } else if (arg == "--seed") {
      value(v);
      options.seed = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
    } else {
      std::fprintf(stderr, "vekton-sim: unknown option \"%s\" (see --help)\n", arg.c_str());
      return 2;
    }
  }

  std::FILE* trace = nullptr;
  std::FILE* accesses = nullptr;
  if (!tracePath.empty() && !(trace = std::fopen(tracePath.c_str(), "w"))) {
    std::fprintf(stderr, "vekton-sim: cannot write %s: %s\n", tracePath.c_str(), std::strerror(errno));
    return 1;
  }
  if (!accessPath.empty()) {
    if (!(accesses = std::fopen(accessPath.c_str(), "w"))) {
      std::fprintf(stderr, "vekton-sim: cannot write %s: %s\n", accessPath.c_str(), std::strerror(errno));
      return 1;
    }
    std::fprintf(accesses, "# n relay DM0 cassette level start plate-ready ready result\n");
    std::fflush(accesses);
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::Store store(*profile, options);
  store.SetFault(fault, faultMs);
  Simulator simulator(store, trace, accesses, link);
  std::fprintf(stderr, "vekton-sim: profile %s, serial %u, firmware %u, speed %g\n", profile->name,
               profile->serial, profile->firmware, options.speed);
  if (fault == sim::Fault::Vanish) {
    std::printf("PTY -\n");  // there is no port until the fault is cleared
    std::fflush(stdout);
  } else if (!simulator.OpenPort()) {
    return 1;
  }

  Control control;
  if (!controlPath.empty() && !control.Open(controlPath)) return 1;

  const uint64_t t0 = MonotonicUs();
  bool running = true;
  while (running && !gStop) {
    uint64_t now = MonotonicUs() - t0;
    // A regular control file is looked at ten times a second.
    const uint64_t maxWait = control.fd() >= 0 && !control.fifo() ? 100000 : 1000000;
    const uint64_t wait = simulator.Wait(now, maxWait);
    pollfd fds[2];
    nfds_t n = 0;
    int masterSlot = -1, controlSlot = -1;
    if (simulator.listening(now)) {
      masterSlot = static_cast<int>(n);
      fds[n++] = {simulator.master(), POLLIN, 0};
    }
    if (control.fd() >= 0 && control.fifo()) {
      controlSlot = static_cast<int>(n);
      fds[n++] = {control.fd(), POLLIN, 0};
    }
    timespec ts{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
    const int r = ppoll(fds, n, &ts, nullptr);
    if (r < 0 && errno != EINTR) {
      std::fprintf(stderr, "vekton-sim: poll: %s\n", std::strerror(errno));
      break;
    }
    now = MonotonicUs() - t0;
    if (r > 0 && masterSlot >= 0) {
      const short ev = fds[masterSlot].revents;
      if (ev & POLLIN) {
        simulator.ReadPort(now);
      } else if (ev & (POLLHUP | POLLERR)) {
        simulator.NoteHangUp(now);
      }
    }
    if (control.fd() >= 0 && (!control.fifo() || (r > 0 && controlSlot >= 0 && fds[controlSlot].revents))) {
      for (const std::string& line : control.Lines()) {
        if (!Apply(line, store, simulator, now)) running = false;
      }
    }
    store.AdvanceTo(now);
    simulator.SendDue(now);
    simulator.WriteAccesses();
  }

  simulator.ClosePort();
  control.Close();
  if (trace) std::fclose(trace);
  if (accesses) std::fclose(accesses);
  return 0;
}
