// The trace's record lines: what the recorder writes reads back as the same
// record, and no line holds a byte a terminal would act on.
#include <gtest/gtest.h>

#include "platform/TraceRecord.h"

namespace {

TEST(TraceRecordTest, EveryByteReadsBackAndNoLineHoldsAControlByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += "<CR>\\x41";  // text that looks like an escape is escaped itself
  trace::Record r;
  r.wallUs = 1796768576123456;  // 2026-12-08T22:22:56.123456Z
  r.offsetMinutes = 60;
  r.sinceUs = 12345678;
  r.word = trace::Word::kRx;
  r.payload = all;
  const std::string line = trace::FormatRecord(r);
  ASSERT_EQ(line.back(), '\n');
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    const auto b = static_cast<uint8_t>(line[i]);
    ASSERT_TRUE(b >= 32 && b < 127) << "byte " << int(b) << " at " << i;
  }
  EXPECT_EQ(line.substr(0, 51), "2026-12-08T23:22:56.123456+01:00 12.345678 RX <NUL>");
  trace::Record back;
  ASSERT_TRUE(trace::ParseRecord(std::string_view(line).substr(0, line.size() - 1), back));
  EXPECT_EQ(back.payload, all);
  EXPECT_EQ(back.wallUs, r.wallUs);
  EXPECT_EQ(back.offsetMinutes, 60);
  EXPECT_EQ(back.sinceUs, r.sinceUs);
  EXPECT_EQ(back.word, trace::Word::kRx);

  // West of Greenwich, before 1970 and an empty payload.
  r = {};
  r.wallUs = -1;
  r.offsetMinutes = -210;
  r.word = trace::Word::kPurge;
  EXPECT_EQ(trace::FormatRecord(r), "1969-12-31T20:29:59.999999-03:30 0.000000 PURGE\n");
  ASSERT_TRUE(trace::ParseRecord("1969-12-31T20:29:59.999999-03:30 0.000000 PURGE\r", back));
  EXPECT_EQ(back.wallUs, -1);
  EXPECT_TRUE(back.payload.empty());
}

TEST(TraceRecordTest, LinesThatAreNoRecordAreRefused) {
  trace::Record r;
  for (const char* bad : {"", "2026-12-08T23:22:56.123456+01:00", "2026-12-08T23:22:56.123456+01:00 1.5 TX A",
                          "2026-12-08T23:22:56.123456+01:00 1.000000 XX A",
                          "2026-12-08T23:22:56.123456+01:00 1.000000 TX <XYZ>",
                          "2026-12-08T23:22:56.123456+01:00 1.000000 TX \\x4", "2026-12-08T23:22:56.123456+01:00 1.000000 TX a\tb",
                          "2026-13-08T23:22:56.123456+01:00 1.000000 TX A", "2026-12-08 23:22:56.123456+01:00 1.000000 TX A"})
    EXPECT_FALSE(trace::ParseRecord(bad, r)) << bad;
}

TEST(TraceRecordTest, HeaderAndFileNames) {
  trace::Header h{"vekton", "1.0.0", 2, "lab-pc", 3, "rfc2217://10.0.0.5:2001", "Anna  port=9 Smith"};
  trace::Header back;
  ASSERT_TRUE(trace::ParseHeader(trace::HeaderPayload(h), back));
  EXPECT_EQ(back.operatorName, h.operatorName);
  EXPECT_EQ(back.line, h.line);
  EXPECT_EQ(back.port, 3);
  EXPECT_EQ(back.part, 2);

  EXPECT_EQ(trace::FileName(2026, 12, 8, 23, 22, 56, 4711, 1), "vekton-20261208-232256-4711.trace");
  std::string key;
  int part = 0;
  ASSERT_TRUE(trace::ParseFileName(trace::FileName(2026, 12, 8, 23, 22, 56, 4711, 12), key, part));
  EXPECT_EQ(key, "vekton-20261208-232256-4711");
  EXPECT_EQ(part, 12);
  for (const char* bad : {"vekton-20261208-232256-4711.1.trace", "vekton-20261208-232256-.trace", "notes.trace",
                          "vekton-20261208-232256-4711.trace.gz"})
    EXPECT_FALSE(trace::ParseFileName(bad, key, part)) << bad;

  EXPECT_EQ(trace::DefaultFolder(false, "/s", "/h", nullptr), "/s/vekton/trace");
  EXPECT_EQ(trace::DefaultFolder(false, "", "/h", nullptr), "/h/.local/state/vekton/trace");
  EXPECT_EQ(trace::DefaultFolder(true, "/s", "/h", "C:\\U\\AppData\\Local"), "C:\\U\\AppData\\Local\\Vekton\\trace");
}

}  // namespace
