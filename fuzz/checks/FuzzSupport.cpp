#include "fuzz/checks/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "fuzz/checks/FuzzChecks.h"
#include "platform/ScreenModel.h"

namespace {

void AbortOnFailure(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::abort();
}

FuzzFailHandler gHandler = AbortOnFailure;

}  // namespace

void SetFuzzFailHandler(FuzzFailHandler handler) { gHandler = handler ? handler : AbortOnFailure; }

void FuzzFail(const char* file, int line, const char* what) { gHandler(file, line, what); }

const FuzzTarget kFuzzTargets[] = {
    {"exchange", CheckExchange},
    {"readline", CheckReadLine},
    {"direct_commands", CheckDirectCommands},
    {"conversions", CheckConversions},
    {"operator_lines", CheckOperatorLines},
    {"sim_protocol", CheckSimProtocol},
    {"result_file", CheckReadResultFile},
    {"trace_record", CheckTraceRecord},
    {"limits", CheckLimits},
};
const size_t kFuzzTargetCount = sizeof kFuzzTargets / sizeof kFuzzTargets[0];

namespace fuzz {

void Peer::OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) {
  if (byte != 13) {
    if (current_.size() < 1024) current_.push_back(static_cast<char>(byte));
    return;
  }
  lines.push_back(current_);
  current_.clear();
  const uint8_t shape = in_.Byte();
  const int count = shape & 3;
  uint64_t at = tUs;
  for (int i = 0; i < count && !in_.Empty(); ++i) {
    at += static_cast<uint64_t>(in_.Byte()) * 500;
    std::string bytes = in_.Bytes(in_.Byte() & 0x7F);
    // Often enough a well-formed end, so the answers get past the cut.
    if ((shape & 4) && i == count - 1) bytes += "\r\n";
    out.Send(at, bytes);
    sent += bytes;
    ++pieces;
  }
}

int64_t ReferenceValue(std::string_view text) {
  // Kept apart from the program's loop on purpose: the digits are gathered
  // first and their count decides an overflow before any arithmetic.
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return 0;
  std::string_view rest = text.substr(start);
  const size_t end = rest.find_first_not_of("0123456789");
  std::string_view digits = rest.substr(0, end);
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  if (digits.size() > 10) return INT32_MAX;
  const long long v = digits.empty() ? 0 : std::stoll(std::string(digits));
  return v > INT32_MAX ? INT32_MAX : v;
}

bool ScreenPrintable() {
  for (int y = 1; y <= ScreenModel::kRows; ++y)
    for (int x = 1; x <= ScreenModel::kCols; ++x) {
      const uint8_t c = gScreen.Char(x, y);
      if (c < 32 || c > 126) return false;
    }
  return true;
}

}  // namespace fuzz
