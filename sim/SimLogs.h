// vekton-sim's two logs, each a file flushed line by line so a test can read
// it while the simulator runs:
//   --trace:    "<seconds> RX <bytes>", "<seconds> TX <bytes>", and with
//               --listen "<seconds> TCP connect|close ..."
//   --accesses: one line per plate access once it has ended.
// A log without a file takes every call and writes nothing.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "sim/Store.h"

namespace sim {

// Seconds since start with six decimals: "12.000345".
std::string Seconds(uint64_t us);
// \r \n \\ as such, bytes outside 0x20..0x7E as \xHH, the rest as it is.
std::string Escape(std::string_view bytes);

class TraceLog {
 public:
  // Starts a new file at path. False, with the reason in why, when it cannot.
  bool Open(const std::string& path, std::string& why);
  void Close();
  // One event: what is RX, TX or TCP; bytes are escaped.
  void Event(uint64_t nowUs, const char* what, std::string_view bytes);

 private:
  std::FILE* file_ = nullptr;
};

class AccessLog {
 public:
  // Starts a new file at path with its heading line. False, with the reason
  // in why, when it cannot.
  bool Open(const std::string& path, std::string& why);
  void Close();
  // Writes every access that has ended since the last call, in order, and
  // clears the store's list once all are written, so a week-long run does
  // not grow. An access still running holds back the ones after it.
  void WriteEnded(Store& store);

 private:
  std::FILE* file_ = nullptr;
  size_t written_ = 0;  // of store.Accesses()
};

}  // namespace sim
