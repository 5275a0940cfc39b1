// Every input the fuzzers ever broke a rule with (fuzz/regressions/<target>/)
// and every seed (fuzz/corpus/<target>/) runs through the same check as in
// the fuzzer, here with gcc on the virtual platform, in every build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/checks/FuzzChecks.h"

namespace fs = std::filesystem;

namespace {

std::string gCurrentFile;

void RecordFailure(const char* file, int line, const char* what) {
  ADD_FAILURE_AT(file, line) << what << " (input " << gCurrentFile << ")";
}

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Replays the files of one folder kind for every target; returns how many.
size_t Replay(const char* kind) {
  SetFuzzFailHandler(RecordFailure);
  size_t count = 0;
  for (size_t i = 0; i < kFuzzTargetCount; ++i) {
    for (const fs::path& p : FilesUnder(fs::path(VEKTON_FUZZ_DIR) / kind / kFuzzTargets[i].name)) {
      const std::string bytes = Read(p);
      gCurrentFile = p.string();
      kFuzzTargets[i].check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  SetFuzzFailHandler(nullptr);
  return count;
}

}  // namespace

TEST(FuzzRegression, SavedFindingsStayFixed) {
  // None at all is fine: nothing found yet, or every finding was fixed
  // before it was kept. Each one kept must pass.
  Replay("regressions");
}

TEST(FuzzRegression, SeedCorpusPasses) {
  // The seeds are real answers, frames and key sequences.
  EXPECT_GT(Replay("corpus"), 0u);
}

TEST(FuzzRegression, EveryTargetHasSeeds) {
  for (size_t i = 0; i < kFuzzTargetCount; ++i)
    EXPECT_FALSE(FilesUnder(fs::path(VEKTON_FUZZ_DIR) / "corpus" / kFuzzTargets[i].name).empty())
        << kFuzzTargets[i].name;
}
