#include "sim/SimLogs.h"

#include <cerrno>
#include <cstring>

namespace sim {

std::string Seconds(uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                static_cast<unsigned long long>(us % 1000000));
  return text;
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

namespace {

std::FILE* Create(const std::string& path, std::string& why) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) why = "cannot write " + path + ": " + std::strerror(errno);
  return f;
}

}  // namespace

bool TraceLog::Open(const std::string& path, std::string& why) {
  Close();
  file_ = Create(path, why);
  return file_ != nullptr;
}

void TraceLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void TraceLog::Event(uint64_t nowUs, const char* what, std::string_view bytes) {
  if (!file_) return;
  std::fprintf(file_, "%s %s %s\n", Seconds(nowUs).c_str(), what, Escape(bytes).c_str());
  std::fflush(file_);
}

bool AccessLog::Open(const std::string& path, std::string& why) {
  Close();
  file_ = Create(path, why);
  if (!file_) return false;
  std::fprintf(file_, "# n relay DM0 cassette level start plate-ready ready result\n");
  std::fflush(file_);
  return true;
}

void AccessLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void AccessLog::WriteEnded(Store& store) {
  const auto& list = store.Accesses();
  while (written_ < list.size() && list[written_].result != AccessResult::Running) {
    const AccessRecord& a = list[written_++];
    if (!file_) continue;
    auto time = [](uint64_t us) { return us ? Seconds(us) : std::string("-"); };
    std::fprintf(file_, "%u %u %u %d %d %s %s %s %s\n", a.number, a.relay, a.dm0, a.cassette, a.level,
                 Seconds(a.startUs).c_str(), time(a.plateReadyUs).c_str(), time(a.readyUs).c_str(),
                 AccessResultName(a.result));
    std::fflush(file_);
  }
  if (written_ == list.size() && written_ > 0) {
    store.ClearAccesses();
    written_ = 0;
  }
}

}  // namespace sim
