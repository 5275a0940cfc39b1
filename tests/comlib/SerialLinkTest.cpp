#include <cerrno>

#include "comLib3/comLib3.h"
#include "platform/Crt.h"
#include "tests/support/Fixture.h"

namespace {

class SerialLinkTest : public VirtualTest {};

TEST_F(SerialLinkTest, OpenAppliesLineSettingsAndReadTimeout) {
  ASSERT_EQ(0, ComOpen(1, 9600, 'e', 8, 1));
  const vt::PortState& p = vt::Port(1);
  EXPECT_EQ(9600u, p.settings.baud);
  EXPECT_EQ('E', p.settings.parity);
  EXPECT_EQ(8, p.settings.dataBits);
  EXPECT_EQ(1, p.settings.stopBits);
  EXPECT_FALSE(p.settings.flagsSet);  // no flow control, no parity check, no modem lines
  EXPECT_EQ(0u, p.timeouts.readInterval);
  EXPECT_EQ(0u, p.timeouts.readTotalMultiplier);
  EXPECT_EQ(52u, p.timeouts.readTotalConstant);
  EXPECT_NE(kInvalidSerialHandle, PortHandles[1]);
  ComClose(1);

  ASSERT_EQ(0, ComOpen(1, 4800, 'N', 7, 0));
  EXPECT_EQ('N', vt::Port(1).settings.parity);
  EXPECT_EQ(1, vt::Port(1).settings.stopBits);
  EXPECT_EQ(104u, vt::Port(1).timeouts.readTotalConstant);
  ComClose(1);

  ASSERT_EQ(0, ComOpen(1, 19200, 'x', 8, 3));
  EXPECT_EQ('N', vt::Port(1).settings.parity);
  EXPECT_EQ(1, vt::Port(1).settings.stopBits);
  EXPECT_EQ(26u, vt::Port(1).timeouts.readTotalConstant);
  ComClose(1);

  ASSERT_EQ(0, ComOpen(1, 9600, 'o', 8, 2));
  EXPECT_EQ('O', vt::Port(1).settings.parity);
  EXPECT_EQ(2, vt::Port(1).settings.stopBits);
}

TEST_F(SerialLinkTest, MissingPortIsReportedAndWaitsForAKey) {
  vt::PushKeys("\x1b");  // Esc at this key wait does not abort anything
  EXPECT_EQ(ENOENT, ComOpen(7, 9600, 'E', 8, 1));
  EXPECT_EQ("Invalid Port Number: 7   E2", Text(1, 1, 27));
  EXPECT_EQ(0u, vt::PendingKeys());
  EXPECT_FALSE(EscAbort);
  EXPECT_EQ(kInvalidSerialHandle, PortHandles[7]);
}

TEST_F(SerialLinkTest, PortsOutsideTheTableNeverTouchIt) {
  vt::AttachPort(0, nullptr);
  vt::AttachPort(129, nullptr);
  vt::PushKeys("ab");
  EXPECT_NE(0, ComOpen(0, 9600, 'E', 8, 1));
  EXPECT_NE(0, ComOpen(129, 9600, 'E', 8, 1));
  EXPECT_FALSE(vt::Port(0).open);
  EXPECT_FALSE(vt::Port(129).open);
  for (int i = 1; i <= kMaxComPorts; ++i) EXPECT_EQ(kInvalidSerialHandle, PortHandles[i]);
  char ch = 0;
  EXPECT_EQ(-1, ComReadChar(129, ch));
  EXPECT_EQ(0, ComWrite(-3, "RD 1"));
  ComClose(200);
  ComPurge(0);
}

TEST_F(SerialLinkTest, PortWhoseSettingsFailIsLeftClosed) {
  vt::Port(1).failSetSettings = true;
  EXPECT_NE(0, ComOpen(1, 9600, 'E', 8, 1));
  EXPECT_FALSE(vt::Port(1).open);
  EXPECT_EQ(kInvalidSerialHandle, PortHandles[1]);

  vt::Port(1).failSetSettings = false;
  vt::Port(1).failGetSettings = true;
  EXPECT_NE(0, ComOpen(1, 9600, 'E', 8, 1));
  EXPECT_FALSE(vt::Port(1).open);

  vt::Port(1).failGetSettings = false;
  vt::Port(1).failTimeouts = true;
  EXPECT_NE(0, ComOpen(1, 9600, 'E', 8, 1));
  EXPECT_FALSE(vt::Port(1).open);
}

TEST_F(SerialLinkTest, SecondOpenOfAnOpenPortFails) {
  OpenPort();
  vt::PushKeys(" ");
  EXPECT_EQ(EBUSY, ComOpen(1, 9600, 'E', 8, 1));
  ComClose(1);
  ComClose(1);  // closing twice is harmless
  EXPECT_EQ(kInvalidSerialHandle, PortHandles[1]);
  ComClose(5);  // never opened
  EXPECT_EQ(kInvalidSerialHandle, PortHandles[5]);
}

TEST_F(SerialLinkTest, WriteSendsTextAndOneCrUnlessAborted) {
  OpenPort();
  EXPECT_EQ(7, ComWrite(1, "RD DM0"));
  EXPECT_EQ("RD DM0\r", vt::WrittenText(1));
  EXPECT_EQ(1u, vt::Port(1).purges);
  vt::ClearWritten(1);
  EXPECT_EQ(10, ComWrite(1, "RD DM200\r"));
  EXPECT_EQ("RD DM200\r\r", vt::WrittenText(1));
  vt::ClearWritten(1);
  EscAbort = true;
  EXPECT_EQ(0, ComWrite(1, "ST 1801"));
  EXPECT_EQ("", vt::WrittenText(1));
}

class ReadLineTest : public VirtualTest {
 protected:
  void SetUp() override {
    VirtualTest::SetUp();
    OpenPort();
  }
  void Arrive(uint64_t inUs, std::string_view bytes) {
    auto& p = vt::Port(1);
    for (char c : bytes) p.rx.emplace_back(vt::NowUs() + inUs, static_cast<uint8_t>(c));
  }
};

TEST_F(ReadLineTest, LineModeEndsAtEitherEndCharacter) {
  Arrive(0, "1234\r\n");
  ShortStr dest;
  EXPECT_EQ(6, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("1234\r\n", dest);

  Arrive(0, "\x02" "7\x03" "tail");
  EXPECT_EQ(3, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("\x02" "7\x03", dest);
}

TEST_F(ReadLineTest, IncompleteLineGivesTheErrorTextAfterAboutATenthOfSilence) {
  Arrive(0, "12");
  ShortStr dest = "old";
  const uint64_t t0 = vt::NowUs();
  EXPECT_EQ(2, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("auxStrIn Error", dest);
  EXPECT_EQ(101000u, vt::NowUs() - t0);  // 101 idle polls of 1 ms
}

TEST_F(ReadLineTest, NothingWaitingLeavesDestAlone) {
  ShortStr dest = "keep";
  const uint64_t t0 = vt::NowUs();
  EXPECT_EQ(0, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("keep", dest);
  EXPECT_EQ(t0, vt::NowUs());
  ComClose(1);
  EXPECT_EQ(-1, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("keep", dest);
}

TEST_F(ReadLineTest, QuietModeEndsAfterElevenIdlePolls) {
  Arrive(0, "AB");
  Arrive(5000, "C");
  ShortStr dest;
  const uint64_t t0 = vt::NowUs();
  EXPECT_EQ(3, ComReadLine(1, dest, 255, 2, 0, 0));
  EXPECT_EQ("ABC", dest);
  EXPECT_EQ(5000u + 11000u, vt::NowUs() - t0);
}

TEST_F(ReadLineTest, BlockModeReadsOneCallCutToCapacity) {
  Arrive(0, "ABCDEFGH");
  ShortStr dest;
  EXPECT_EQ(5, ComReadLine(1, dest, 3, 0, 5, 0));
  EXPECT_EQ("ABC", dest);
}

TEST_F(ReadLineTest, EndlessStreamWithoutLineEndStillReturns) {
  auto& p = vt::Port(1);
  for (int i = 0; i < 5000; ++i) p.rx.emplace_back(vt::NowUs() + i * 1000ull, static_cast<uint8_t>('x'));
  ShortStr dest;
  EXPECT_EQ(255, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_EQ("auxStrIn Error", dest);
  vt::AdvanceUs(2000);
  EXPECT_EQ(255, ComReadLine(1, dest, 255, 7, 0, 0));
  EXPECT_EQ(255u, dest.size());
}

TEST_F(ReadLineTest, EscEndsALineRead) {
  Arrive(0, "12");
  vt::PushKeysAt(vt::NowUs() + 30000, "\x1b");
  ShortStr dest;
  EXPECT_EQ(2, ComReadLine(1, dest, 255, 1, 3, 10));
  EXPECT_TRUE(EscAbort);
  EXPECT_LT(vt::NowUs(), 40000u);
  EXPECT_EQ(0, ComReadLine(1, dest, 255, 1, 3, 10));
}

}  // namespace
