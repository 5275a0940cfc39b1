// What the archive's tests share: result files as the console writes them
// (made once per test binary on the virtual platform against the simulated
// store) and a folder on the real disk for the archives themselves.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/ResultFiles.h"

namespace archive_test {

struct Files {
  std::string a, b;  // two complete runs of store 1234, a day apart
  std::string other; // a run of store 5678
};

// A store's serial number put in every header (the same width: the lines
// stay as the console writes them).
inline std::string WithSerial(std::string bytes, const std::string& serial) {
  for (size_t at = 0; (at = bytes.find("SNr. # 1234", at)) != std::string::npos; at += 11)
    bytes.replace(at + 7, 4, serial);
  return bytes;
}

inline const Files& TestFiles() {
  static const Files files = [] {
    Files f;
    ResultRunPlan plan;
    plan.hours = 0.1;
    f.a = JoinLines(MakeResultFileLines(plan));
    plan.day = 9;
    plan.seed = 2;
    f.b = JoinLines(MakeResultFileLines(plan));
    plan.day = 10;
    f.other = WithSerial(JoinLines(MakeResultFileLines(plan)), "5678");
    vt::Reset();
    return f;
  }();
  return files;
}

// A folder of this test binary's own, removed when it ends.
inline const std::filesystem::path& Scratch() {
  struct Folder {
    std::filesystem::path path;
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder = [] {
    Folder f;
    f.path = std::filesystem::temp_directory_path() / ("vekton-archive-tests-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(f.path);
    return f;
  }();
  return folder.path;
}

// A fresh archive's name for the running test.
inline std::string DbPath() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path p = Scratch() / (std::string(info->test_suite_name()) + "." + info->name() + ".db");
  for (const char* tail : {"", "-wal", "-shm"}) std::filesystem::remove(p.string() + tail);
  return p.string();
}

inline void WriteRealFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadRealFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace archive_test
