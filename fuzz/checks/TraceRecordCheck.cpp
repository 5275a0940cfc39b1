// The trace's records on any bytes. Written: the input as a record's
// payload (its first bytes choose the word and the times) makes one line
// with no control byte but its LF, and that line reads back as the same
// record. Read: the input as a line never breaks the reader, and a line it
// takes is one the writer makes again byte for byte.
#include <cstring>
#include <string>

#include "fuzz/checks/FuzzChecks.h"
#include "platform/TraceRecord.h"

void CheckTraceRecord(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  trace::Record r;
  if (size >= 12) {
    uint64_t bits = 0;
    std::memcpy(&bits, data, 8);
    r.wallUs = static_cast<int64_t>(bits % (4102444800ll * 1000000));  // 1970 .. 2100
    r.sinceUs = bits / 7 % (1ull << 40);
    r.offsetMinutes = static_cast<int>(data[8] % 48) * 30 - 720;
    r.word = static_cast<trace::Word>(data[9] % 12);
    r.payload = std::string(input.substr(10, trace::kMaxPayload));
  } else {
    r.payload = std::string(input);
  }
  const std::string line = trace::FormatRecord(r);
  FUZZ_CHECK(!line.empty() && line.back() == '\n', "a record ends with its LF");
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    const auto b = static_cast<uint8_t>(line[i]);
    FUZZ_CHECK(b >= 32 && b < 127, "a record holds only printable ASCII");
  }
  trace::Record back;
  std::string why;
  FUZZ_CHECK(trace::ParseRecord(std::string_view(line).substr(0, line.size() - 1), back, &why),
             "a record the writer made reads back");
  FUZZ_CHECK(back.payload == r.payload, "the payload reads back as the bytes written");
  FUZZ_CHECK(back.word == r.word && back.sinceUs == r.sinceUs, "the word and the seconds read back");
  FUZZ_CHECK(back.wallUs == r.wallUs && back.offsetMinutes == r.offsetMinutes, "the wall clock reads back");

  trace::Record parsed;
  if (trace::ParseRecord(input, parsed, &why)) {
    FUZZ_CHECK(parsed.payload.size() <= trace::kMaxPayload, "a payload no longer than a record holds");
    std::string again = trace::FormatRecord(parsed);
    again.pop_back();
    trace::Record twice;
    FUZZ_CHECK(trace::ParseRecord(again, twice), "a record read and written again reads");
    FUZZ_CHECK(twice.payload == parsed.payload && twice.wallUs == parsed.wallUs && twice.word == parsed.word,
               "a record read and written again is the same record");
  }
}
