// The archive of a service company's fleet: 500 stores, each checked once a
// week for 20 weeks with a day-long random-access run, 10,000 result files
// imported into one archive, then the fleet's page of all 500 stores. On one
// core (the process and its children are bound to the processor it starts
// on). Prints every figure and exits with 1 when a target is missed:
//   the import of all files   under 60 s
//   the fleet's page          under 2 s and under 5 MB
// The stores and csv commands are timed as well, without a target.
//
// The archive's work is the real vekton-archive, run as a technician runs
// it: one `DB add` with all 10,000 paths, then `DB page -o`, `DB stores`,
// `DB csv -o`, each timed from its start to its exit. Its figures are then
// checked in-process through the archive's library.
//
// The files are made first, outside the timing, by the console itself
// in-process against the simulated store. A 24-hour run costs about a second
// of processor time, so eight distinct runs are made (a store that wears
// from run to run, and one that has become very slow) and each is written
// out many times, with its store's serial number and its dates rewritten.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "bench/ResultFiles.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kStores = 500;
constexpr int kRunsPerStore = 20;
constexpr int kFirstSerial = 2001;
constexpr double kImportTargetSeconds = 60.0;
constexpr double kPageTargetSeconds = 2.0;
constexpr double kPageTargetBytes = 5e6;

// Runs vekton-archive with args, its standard output into outPath; the
// exit status (-1 when it did not run) and the wall time.
int RunArchive(const std::vector<std::string>& args, const std::string& outPath, double& seconds) {
  std::vector<char*> argv;
  std::string program = VEKTON_ARCHIVE_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "archive_bench: cannot run %s: %s\n", program.c_str(), std::strerror(spawned));
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uintmax_t SizeOr0(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

// The archive file with its write-ahead log and shared-memory index.
double ArchiveMb(const std::string& db) {
  return static_cast<double>(SizeOr0(db) + SizeOr0(db + "-wal") + SizeOr0(db + "-shm")) / 1e6;
}

}  // namespace

int main() {
  // One core: this process and every vekton-archive it starts.
  cpu_set_t one;
  CPU_ZERO(&one);
  const int cpu = sched_getcpu();
  CPU_SET(cpu < 0 ? 0 : cpu, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) std::perror("archive_bench: sched_setaffinity");

  char tmpl[] = "/tmp/archive_bench.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("archive_bench: mkdtemp");
    return 1;
  }
  const std::string dir = tmpl;
  const std::string files = dir + "/files", db = dir + "/fleet.db";
  fs::create_directories(files);

  // Run i: the standard store losing 3 % of its speed a run, the last a
  // store at a twelfth of its speed.
  const double speeds[] = {1.0, 0.97, 0.94, 0.91, 0.88, 0.85, 0.82, 0.08};
  const int distinct = static_cast<int>(std::size(speeds));
  std::vector<std::vector<std::string>> made;
  const std::clock_t c0 = std::clock();
  for (int i = 0; i < distinct; ++i) {
    ResultRunPlan plan;
    plan.year = 2025, plan.month = 1, plan.day = 6;
    plan.hour = 18;
    plan.hours = 24;
    plan.intervalSeconds = i % 3 == 2 ? 3 : 2;
    plan.speed = speeds[i];
    plan.seed = static_cast<uint32_t>(i + 1);
    made.push_back(MakeResultFileLines(plan));
    if (made.back().empty()) {
      std::fprintf(stderr, "archive_bench: run %d left no result file\n", i);
      return 1;
    }
  }
  const double makeSeconds = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;

  // Store s is checked on weekday s % 7, a week apart; it wears from one
  // check to the next, and every 25th store has become very slow by its
  // last five.
  std::vector<std::string> args = {db, "add"};
  size_t diskBytes = 0;
  for (int s = 0; s < kStores; ++s) {
    const int serial = kFirstSerial + s;
    for (int r = 0; r < kRunsPerStore; ++r) {
      const int which = s % 25 == 24 && r >= kRunsPerStore - 5 ? distinct - 1 : r * (distinct - 1) / kRunsPerStore;
      const std::string bytes = RewrittenRun(made[static_cast<size_t>(which)], 7L * r + s % 7, serial);
      char name[32];
      std::snprintf(name, sizeof name, "/%d_%02d.spf", serial, r);
      args.push_back(files + name);
      diskBytes += bytes.size();
      if (!WriteFile(args.back(), bytes)) {
        std::perror(args.back().c_str());
        return 1;
      }
    }
  }
  const size_t fileCount = args.size() - 2;

  std::printf("archive of %d stores x %d day-long runs (%d distinct runs, serials and dates rewritten), one core (cpu %d)\n",
              kStores, kRunsPerStore, distinct, cpu);
  std::printf("  runs made in-process      %.1f s of processor time\n", makeSeconds);
  std::printf("  files                     %zu, %.1f MB on disk\n", fileCount, static_cast<double>(diskBytes) / 1e6);
  std::fflush(stdout);

  double importSeconds = 0, pageSeconds = 0, storesSeconds = 0, csvSeconds = 0;
  const int added = RunArchive(args, dir + "/add.out", importSeconds);
  const double afterImportMb = ArchiveMb(db);
  size_t runs = 0, serials = 0;
  {
    std::string error;
    const auto a = archive::Archive::Open(db, false, error);
    if (!a) std::fprintf(stderr, "archive_bench: %s: %s\n", db.c_str(), error.c_str());
    if (a) runs = a->Runs().size(), serials = a->Serials().size();
  }
  std::printf("  import (vekton-archive DB add, all paths)  %.1f s, %.0f runs/s, exit %d (target under %.0f s)\n",
              importSeconds, static_cast<double>(fileCount) / importSeconds, added, kImportTargetSeconds);
  std::printf("  runs in the archive       %zu of %zu stores\n", runs, serials);
  std::printf("  archive on disk           %.1f MB after the import (with -wal and -shm)\n", afterImportMb);
  std::fflush(stdout);

  const std::string page = dir + "/fleet.html", csv = dir + "/fleet.csv";
  const int paged = RunArchive({db, "page", "-o", page}, dir + "/page.out", pageSeconds);
  const double pageMb = static_cast<double>(SizeOr0(page)) / 1e6;
  const int stored = RunArchive({db, "stores"}, dir + "/stores.out", storesSeconds);
  const int csved = RunArchive({db, "csv", "-o", csv}, dir + "/csv.out", csvSeconds);
  std::printf("  page (DB page -o)         %.3f s, %.2f MB, exit %d (targets under %.0f s, under %.0f MB)\n", pageSeconds,
              pageMb, paged, kPageTargetSeconds, kPageTargetBytes / 1e6);
  std::printf("  stores (DB stores)        %.3f s, %.2f MB out, exit %d\n", storesSeconds,
              static_cast<double>(SizeOr0(dir + "/stores.out")) / 1e6, stored);
  std::printf("  csv (DB csv -o)           %.3f s, %.2f MB, exit %d\n", csvSeconds,
              static_cast<double>(SizeOr0(csv)) / 1e6, csved);
  std::printf("  archive on disk           %.1f MB at the end (with -wal and -shm)\n", ArchiveMb(db));

  std::error_code ec;
  fs::remove_all(dir, ec);

  const bool ok = added == 0 && runs == fileCount && serials == static_cast<size_t>(kStores) &&
                  importSeconds < kImportTargetSeconds && paged == 0 && pageSeconds < kPageTargetSeconds &&
                  pageMb * 1e6 < kPageTargetBytes && stored == 0 && csved == 0;
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
