// The store on the wire: every answer form of the controller, its error
// answers, and what it makes of lines a console should never send.
#include <gtest/gtest.h>

#include "SimTestUtil.h"

using simtest::Send;

TEST(SimProtocol, AnswersEveryCommandFormLikeTheController) {
  sim::Store s;
  const uint64_t t = 1'000'000;
  EXPECT_EQ(Send(s, "CR\r", t), "CC\r\n");
  EXPECT_EQ(Send(s, "RD DM109\r", t), "01234\r\n");  // five digits, leading zeros
  EXPECT_EQ(Send(s, "RD DM108\r", t), "07120\r\n");
  EXPECT_EQ(Send(s, "WR DM10 65535\r", t), "OK\r\n");
  EXPECT_EQ(Send(s, "RD DM10\r", t), "65535\r\n");
  EXPECT_EQ(Send(s, "RD DM0010\r", t), "65535\r\n");  // leading zeros in the address
  EXPECT_EQ(Send(s, "ST 1810\r", t), "OK\r\n");
  EXPECT_EQ(Send(s, "RD 1810\r", t), "1\r\n");
  EXPECT_EQ(Send(s, "RS 1810\r", t), "OK\r\n");
  EXPECT_EQ(Send(s, "RD 1810\r", t), "0\r\n");
  EXPECT_EQ(Send(s, "RD 1915\r", t), "1\r\n");
  EXPECT_EQ(Send(s, "RD T20\r", t), "1,00010,00010\r\n");  // settled: contact, current, preset
  EXPECT_EQ(Send(s, "RD T7\r", t), "0,00000,00000\r\n");   // a timer the program leaves alone
  EXPECT_EQ(Send(s, "CQ\r", t), "CF\r\n");
}

TEST(SimProtocol, AnswersE0ForDevicesThatDoNotExistAndE1ForTheRest) {
  sim::Store s;
  const uint64_t t = 1'000'000;
  for (const char* line : {"RD 1916", "RD 9999", "RD 10000", "ST 1916", "RS 316", "RD DM10000", "WR DM10000 1",
                           "RD T256", "RD DM99999999999999", "RD 123456789012"}) {
    EXPECT_EQ(Send(s, std::string(line) + "\r", t), "E0\r\n") << line;
  }
  for (const char* line : {"FOO", "RD", "RD DM", "RD DMX", "rd dm0", "RD DM0 1", "WR DM0", "WR DM0 65536",
                           "WR DM0 -1", "WR 5 1", "ST DM5", "RD C5", "RD T", "CR 1", "WR DM0 5 6 7", " "}) {
    EXPECT_EQ(Send(s, std::string(line) + "\r", t), "E1\r\n") << line;
  }
  // Refused writes change nothing.
  EXPECT_EQ(Send(s, "RD DM0\r", t), "00000\r\n");
}

TEST(SimProtocol, EmptyLinesGetNoAnswerAndBadLinesNeverStopTheNextOne) {
  sim::Store s;
  const uint64_t t = 1'000'000;
  EXPECT_EQ(Send(s, "\r", t), "");
  // The direct-command console ends its status polls with two CRs.
  EXPECT_EQ(Send(s, "RD DM200\r\r", t), "00000\r\n");
  // A terminal program's CR LF: the LF belongs to the line before.
  EXPECT_EQ(Send(s, "CR\r\nCR\r\n", t), "CC\r\nCC\r\n");

  const std::string overlong(300, 'A');
  EXPECT_EQ(Send(s, overlong + "\r", t), "E1\r\n");
  EXPECT_EQ(Send(s, std::string(5000, '9') + "\r", t), "E1\r\n");
  EXPECT_EQ(Send(s, "RD DM" + std::string(250, '0') + "1\r", t), "E1\r\n");  // 256 characters
  EXPECT_EQ(Send(s, "RD \x01" "DM0\r", t), "E1\r\n");
  EXPECT_EQ(Send(s, std::string("RD DM\0" "0\r", 8), t), "E1\r\n");
  EXPECT_EQ(Send(s, "RD DM1\xFF\r", t), "E1\r\n");
  EXPECT_EQ(Send(s, "RD\nDM1\r", t), "E1\r\n");
  EXPECT_EQ(Send(s, "RD DM109\r", t), "01234\r\n");
  EXPECT_EQ(s.LastLine(), "RD DM109");
  EXPECT_EQ(s.counts().commands, 11u);
}

TEST(SimProtocol, AnswerLeavesAfterTheScanAtTheLinesRate) {
  sim::Store s;
  std::vector<sim::Piece> pieces;
  Send(s, "RD DM109\r", 5'000'000, &pieces);
  ASSERT_EQ(pieces.size(), 1u);
  // 2 ms scan, then seven bytes of 11 bits at 9600 baud: well inside one
  // 52 ms read of the console.
  EXPECT_EQ(pieces[0].atUs, 5'000'000u + 2000 + 7 * 1146);
}
