// Placeholder: the reader is being written.
#include "report/ResultFile.h"

namespace report {

int64_t Stamp::Seconds() const { return 0; }
std::string Stamp::Date() const { return {}; }
std::string Stamp::Time() const { return {}; }

int64_t Run::Serial() const { return headers.empty() ? -1 : headers.front().serial; }
const std::string& Run::Firmware() const {
  static const std::string none;
  return headers.empty() ? none : headers.front().firmware;
}
const std::string& Run::OperatorName() const {
  static const std::string none;
  return headers.empty() ? none : headers.front().operatorName;
}
Stamp Run::Start() const { return headers.empty() ? Stamp{} : headers.front().stamp; }
Stamp Run::End() const { return {}; }
int64_t Run::UncountedAccesses() const { return 0; }

bool Summary::ReadyMeasured(Group) const { return false; }
bool Summary::PlateReadyMeasured(Group) const { return false; }

ReadResult ReadResultFile(std::string_view, std::string_view) { return {}; }
std::string Cp437ToUtf8(std::string_view bytes) { return std::string(bytes); }

}  // namespace report
