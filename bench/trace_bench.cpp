// vekton-trace over a day's trace: 400 000 exchanges (PURGE, the command,
// the answer, now and then in two pieces) 53 ms apart, in 16 MB files as the
// recorder cuts them, written into a temporary folder first and outside the
// timing. Then --exchanges and --pcapng are timed through the command line's
// function, each printing its seconds and the megabytes it read and wrote
// (target: under 5 s each). Exits with 1 when a target is missed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TraceRecord.h"
#include "trace/Cli.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExchanges = 400'000;
constexpr uint64_t kApartUs = 53'000;
constexpr size_t kFileLimit = size_t{16} << 20;
constexpr double kTargetSeconds = 5.0;

struct Writer {
  fs::path folder;
  std::string text;
  int part = 1;
  uint64_t bytes = 0;
  trace::Record r;

  void Add(trace::Word w, uint64_t sinceUs, std::string payload) {
    r.wallUs = 1796767200'000000 + static_cast<int64_t>(sinceUs);  // 2026-12-08T23:00:00+01:00
    r.offsetMinutes = 60;
    r.sinceUs = sinceUs;
    r.word = w;
    r.payload = std::move(payload);
    text += trace::FormatRecord(r);
  }
  void Head(uint64_t sinceUs) {
    Add(trace::Word::kHead, sinceUs,
        trace::HeaderPayload({"vekton", "1.0.0", part, "lab-pc", 1, "/dev/ttyUSB0", "Bench"}));
  }
  void Cut(bool last) {
    if (text.size() < kFileLimit && !last) return;
    std::ofstream(folder / trace::FileName(2026, 12, 8, 23, 0, 0, 4711, part), std::ios::binary) << text;
    bytes += text.size();
    text.clear();
    ++part;
  }
};

double Time(const std::vector<std::string>& args, const std::string& folder, std::ostream& out) {
  std::ostringstream err;
  const auto t0 = std::chrono::steady_clock::now();
  const int status = trace::TraceMain(args, out, err, folder);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (status != 0) {
    std::fprintf(stderr, "trace_bench: vekton-trace failed (%d): %s\n", status, err.str().c_str());
    std::exit(1);
  }
  return s;
}

}  // namespace

int main() {
  Writer w;
  w.folder = fs::temp_directory_path() /
             ("vekton-trace-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::remove_all(w.folder);
  fs::create_directories(w.folder);
  static const char* const kCommands[][2] = {{"RD DM200", "00123"}, {"RD 1915", "1"},
                                             {"WR DM20 5", "OK"},   {"RDS DM100 4", "00001 00002 00003 00004"},
                                             {"ST 1904", "OK"},     {"RD DM210", "E1"}};
  w.Head(0);
  uint64_t now = 1000;
  unsigned seed = 1;
  for (int i = 0; i < kExchanges; ++i) {
    seed = seed * 1103515245u + 12345u;
    const auto& c = kCommands[(seed >> 16) % 6];
    w.Add(trace::Word::kPurge, now, "");
    w.Add(trace::Word::kTx, now + 40, std::string(c[0]) + "\r");
    // An answer after 6 to 14 ms at 9600 baud; one in eight comes in two pieces.
    const uint64_t answer = now + 6000 + (seed >> 8) % 8000;
    const std::string bytes = std::string(c[1]) + "\r\n";
    if ((seed >> 20) % 8 == 0) {
      w.Add(trace::Word::kRx, answer, bytes.substr(0, 2));
      w.Add(trace::Word::kRx, answer + 2100, bytes.substr(2));
    } else {
      w.Add(trace::Word::kRx, answer, bytes);
    }
    now += kApartUs;
    if (w.text.size() >= kFileLimit) {
      w.Cut(false);
      w.Head(now);
    }
  }
  w.Cut(true);
  const std::string folder = w.folder.string();
  const double inMb = static_cast<double>(w.bytes) / 1e6;
  std::printf("trace: %d exchanges, %.1f MB in %d files\n", kExchanges, inMb, w.part - 1);

  bool ok = true;
  {
    std::ofstream sink(w.folder / "exchanges.txt", std::ios::binary);
    const double s = Time({"--exchanges"}, folder, sink);
    sink.close();
    const double outMb = static_cast<double>(fs::file_size(w.folder / "exchanges.txt")) / 1e6;
    std::printf("--exchanges: %.2f s (%.1f MB read, %.1f MB written)\n", s, inMb, outMb);
    ok = ok && s < kTargetSeconds;
  }
  {
    const std::string out = (w.folder / "day.pcapng").string();
    std::ostringstream sink;
    const double s = Time({"--pcapng", out}, folder, sink);
    const double outMb = static_cast<double>(fs::file_size(out)) / 1e6;
    std::printf("--pcapng: %.2f s (%.1f MB read, %.1f MB written)\n", s, inMb, outMb);
    ok = ok && s < kTargetSeconds;
  }
  fs::remove_all(w.folder);
  std::printf("%s\n", ok ? "within the targets" : "a target missed");
  return ok ? 0 : 1;
}
