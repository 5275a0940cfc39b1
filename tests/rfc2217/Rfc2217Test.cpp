// The Telnet / COM Port Control codec against a scripted server: the exact
// bytes the console sends, and what it makes of what a server like ser2net
// sends, fed whole, byte by byte and cut at every position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/Rfc2217.h"

namespace {

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, GA = 249,
              NOP = 241, DM = 242, SE = 240;
constexpr int BINARY = 0, ECHO = 1, SGA = 3, TTYPE = 24, COMPORT = 44;

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// IAC SB COM-PORT-OPTION command value... IAC SE, the value given escaped.
std::string Sub(int command, std::initializer_list<int> value) {
  return B({IAC, SB, COMPORT, command}) + B(value) + B({IAC, SE});
}

const uint8_t* U(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct Outcome {
  std::string data, reply;
  Rfc2217ComPort com;
  Rfc2217Settings settings;
  Rfc2217Reported remote;
  bool binary;
  bool operator==(const Outcome&) const = default;
};

// Feeds script to a copy of from in pieces of the given sizes and the rest
// in one, each into a buffer of its own that must not be written past.
Outcome Feed(Rfc2217 c, const std::string& script, const std::vector<size_t>& pieces = {}) {
  std::string data, reply;
  size_t at = 0;
  auto piece = [&](size_t n) {
    std::vector<uint8_t> out(n + 1, 0xAA);
    size_t got = Rfc2217Receive(c, U(script) + at, n, out.data(), reply);
    EXPECT_LE(got, n);
    EXPECT_EQ(0xAA, out[n]);
    data.append(reinterpret_cast<const char*>(out.data()), got);
    at += n;
  };
  for (size_t n : pieces) piece(n);
  piece(script.size() - at);
  return {data, reply, Rfc2217ComPortState(c), Rfc2217SettingsState(c), Rfc2217Remote(c),
          Rfc2217Binary(c)};
}

// The script fed whole, byte by byte and cut once at every position must
// all come out the same; returns the outcome.
Outcome FeedEverySplit(const Rfc2217& from, const std::string& script) {
  const Outcome whole = Feed(from, script);
  EXPECT_TRUE(whole == Feed(from, script, std::vector<size_t>(script.size(), 1))) << "byte by byte";
  for (size_t cut = 0; cut <= script.size(); ++cut) {
    EXPECT_TRUE(whole == Feed(from, script, {cut})) << "cut at " << cut;
  }
  return whole;
}

// c after the script, fed in one piece.
Rfc2217 After(Rfc2217 c, const std::string& script) {
  std::string reply;
  std::vector<uint8_t> data(script.size());
  Rfc2217Receive(c, U(script), script.size(), data.data(), reply);
  return c;
}

Rfc2217 Started() {
  Rfc2217 c;
  std::string out;
  Rfc2217Start(c, out);
  return c;
}

// What a ser2net-like server sends on its own when a client connects: it
// offers SGA, plays with ECHO and asks for BINARY from us.
const std::string kServerHello =
    B({IAC, WILL, SGA, IAC, WILL, ECHO, IAC, DONT, ECHO, IAC, DO, BINARY});
// Its answers to the parts of our opening that did not cross its own.
const std::string kServerAgrees = B({IAC, WILL, BINARY, IAC, DO, SGA, IAC, DO, COMPORT});

// A codec whose server agreed to everything, as after a ser2net handshake.
Rfc2217 Agreed() { return After(Started(), kServerHello + kServerAgrees); }

const Rfc2217Line k9600_8E1{9600, 8, 'E', 1};

TEST(Rfc2217Negotiation, OpeningAndSer2netHandshake) {
  Rfc2217 c;
  std::string out = "x";
  Rfc2217Start(c, out);
  EXPECT_EQ("x" + B({IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA, IAC, WILL,
                     COMPORT}),
            out);
  EXPECT_EQ(Rfc2217ComPort::kPending, Rfc2217ComPortState(c));
  EXPECT_FALSE(Rfc2217Binary(c));

  // Nothing goes to the line's settings before the server agreed.
  out.clear();
  EXPECT_FALSE(Rfc2217SetLine(c, k9600_8E1, out));
  EXPECT_FALSE(Rfc2217Purge(c, out));
  EXPECT_EQ("", out);

  // The hello crosses our opening: the crossing requests are answers to each
  // other and get none; only ECHO is refused. The modem state notification
  // and the controller's bytes between the commands come through as they are.
  const std::string script =
      kServerHello + "ok" + kServerAgrees + Sub(107, {0x30}) + B({'\r', '\n'});
  Outcome o = FeedEverySplit(c, script);
  EXPECT_EQ("ok\r\n", o.data);
  EXPECT_EQ(B({IAC, DONT, ECHO}), o.reply);
  EXPECT_EQ(Rfc2217ComPort::kAgreed, o.com);
  EXPECT_TRUE(o.binary);
  EXPECT_EQ(Rfc2217Settings::kNone, o.settings);
}

TEST(Rfc2217Negotiation, ServerThatNeverAnswersStaysPending) {
  // BINARY and SGA agreed, control bytes and data, but no word on the option.
  const std::string script =
      kServerHello + B({IAC, WILL, BINARY, IAC, NOP, 'a', IAC, GA, IAC, DM}) + "b";
  Outcome o = FeedEverySplit(Started(), script);
  EXPECT_EQ(Rfc2217ComPort::kPending, o.com);
  EXPECT_EQ("ab", o.data);
  EXPECT_TRUE(o.binary);
}

TEST(Rfc2217Negotiation, ServerWithoutComPortOptionIsToldApart) {
  // The server's DONT (and a server that says WONT instead) answers our WILL:
  // refused, and no answer to the answer.
  for (int verb : {DONT, WONT}) {
    const std::string script = kServerHello + B({IAC, WILL, BINARY, IAC, verb, COMPORT});
    Outcome o = FeedEverySplit(Started(), script);
    EXPECT_EQ(Rfc2217ComPort::kRefused, o.com) << verb;
    EXPECT_EQ(B({IAC, DONT, ECHO}), o.reply) << verb;
  }

  Rfc2217 c = After(Started(), B({IAC, DONT, COMPORT, IAC, DONT, COMPORT}));
  std::string out;
  EXPECT_EQ(Rfc2217ComPort::kRefused, Rfc2217ComPortState(c));
  EXPECT_FALSE(Rfc2217SetLine(c, k9600_8E1, out));
  EXPECT_FALSE(Rfc2217Purge(c, out));
  EXPECT_EQ("", out);
}

TEST(Rfc2217Negotiation, UnknownRequestsRefusedOnceAndRepeatsIgnored) {
  // Repeated requests the console refuses: one answer each, however often
  // they come (ECHO from the server was refused in the handshake already).
  // WILL COM-PORT-OPTION would make us the access server.
  std::string script;
  for (int i = 0; i < 3; ++i) {
    script += B({IAC, DO, TTYPE, IAC, WILL, ECHO, IAC, WILL, COMPORT, IAC, DO, 200, IAC, DO, ECHO});
  }
  // Requests for what is already agreed get no answer at all.
  script += B({IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, COMPORT, IAC, WILL, SGA});
  Outcome o = FeedEverySplit(Agreed(), script);
  EXPECT_EQ(B({IAC, WONT, TTYPE, IAC, DONT, COMPORT, IAC, WONT, 200, IAC, WONT, ECHO}),
            o.reply);
  EXPECT_EQ(Rfc2217ComPort::kAgreed, o.com);
  EXPECT_TRUE(o.binary);

  // A server that switches an agreed option off and on again is
  // acknowledged each time the state changes, and only then.
  script = B({IAC, DONT, BINARY, IAC, DONT, BINARY, IAC, WONT, SGA, IAC, DO, BINARY,
              IAC, DO, BINARY});
  o = FeedEverySplit(Agreed(), script);
  EXPECT_EQ(B({IAC, WONT, BINARY, IAC, DONT, SGA, IAC, WILL, BINARY}), o.reply);
  EXPECT_TRUE(o.binary);
}

TEST(Rfc2217Settings, Line9600_8E1WithoutFlowControlConfirmed) {
  Rfc2217 c = Agreed();
  std::string out;
  ASSERT_TRUE(Rfc2217SetLine(c, k9600_8E1, out));
  EXPECT_EQ(B({IAC, SB, COMPORT, 1, 0, 0, 0x25, 0x80, IAC, SE,  // 9600 baud
               IAC, SB, COMPORT, 2, 8, IAC, SE,                 // 8 data bits
               IAC, SB, COMPORT, 3, 3, IAC, SE,                 // even parity
               IAC, SB, COMPORT, 4, 1, IAC, SE,                 // 1 stop bit
               IAC, SB, COMPORT, 5, 1, IAC, SE}),               // no flow control
            out);
  EXPECT_EQ(Rfc2217Settings::kPending, Rfc2217SettingsState(c));

  // Half the answers: still pending. The DTR report among them is another
  // SET-CONTROL answer and says nothing about flow control.
  Outcome o = FeedEverySplit(c, Sub(101, {0, 0, 0x25, 0x80}) + Sub(102, {8}) + Sub(105, {8}));
  EXPECT_EQ(Rfc2217Settings::kPending, o.settings);

  o = FeedEverySplit(c, Sub(101, {0, 0, 0x25, 0x80}) + Sub(102, {8}) + Sub(103, {3}) +
                            Sub(104, {1}) + Sub(105, {1}) + "z");
  EXPECT_EQ(Rfc2217Settings::kConfirmed, o.settings);
  EXPECT_EQ("z", o.data);
  EXPECT_EQ("", o.reply);
  EXPECT_EQ(9600u, o.remote.baud);
  EXPECT_EQ(8, o.remote.dataSize);
  EXPECT_EQ(3, o.remote.parity);
  EXPECT_EQ(1, o.remote.stopSize);
  EXPECT_EQ(1, o.remote.flowControl);
}

TEST(Rfc2217Settings, OtherValuesAnsweredAreNotConfirmed) {
  Rfc2217 c = Agreed();
  std::string out;
  ASSERT_TRUE(Rfc2217SetLine(c, k9600_8E1, out));

  // A server that cannot do even parity and stays at 4800 baud.
  Outcome o = FeedEverySplit(c, Sub(101, {0, 0, 0x12, 0xC0}) + Sub(102, {8}) + Sub(103, {1}) +
                                    Sub(104, {1}) + Sub(105, {1}));
  EXPECT_EQ(Rfc2217Settings::kDiffers, o.settings);
  EXPECT_EQ(4800u, o.remote.baud);
  EXPECT_EQ(1, o.remote.parity);

  // One wrong answer is enough, even before the rest came.
  o = FeedEverySplit(c, Sub(105, {3}));
  EXPECT_EQ(Rfc2217Settings::kDiffers, o.settings);

  // Malformed answers (a baud rate of three bytes, a parity of two) and the
  // request codes echoed instead of the answer codes count as no answer.
  o = FeedEverySplit(c, Sub(101, {0, 0x25, 0x80}) + Sub(103, {3, 3}) + Sub(2, {8}) +
                            Sub(102, {8}) + Sub(104, {1}) + Sub(105, {1}));
  EXPECT_EQ(Rfc2217Settings::kPending, o.settings);
  EXPECT_EQ(0u, o.remote.baud);
  EXPECT_EQ(0, o.remote.parity);

  // Settings the option cannot carry are not sent.
  out.clear();
  for (Rfc2217Line bad : {Rfc2217Line{0, 8, 'E', 1}, Rfc2217Line{9600, 9, 'E', 1},
                          Rfc2217Line{9600, 4, 'E', 1}, Rfc2217Line{9600, 8, 'X', 1},
                          Rfc2217Line{9600, 8, 'E', 3}}) {
    EXPECT_FALSE(Rfc2217SetLine(c, bad, out));
  }
  EXPECT_EQ("", out);
}

TEST(Rfc2217Settings, ValueBytesFFEscapedBothWays) {
  Rfc2217 c = Agreed();
  std::string out;
  ASSERT_TRUE(Rfc2217SetLine(c, Rfc2217Line{0x00FFFF00u, 7, 'O', 2}, out));
  EXPECT_EQ(B({IAC, SB, COMPORT, 1, 0, IAC, IAC, IAC, IAC, 0, IAC, SE}), out.substr(0, 12));
  EXPECT_EQ(B({IAC, SB, COMPORT, 3, 2, IAC, SE, IAC, SB, COMPORT, 4, 2, IAC, SE}),
            out.substr(19, 14));

  Outcome o = FeedEverySplit(c, Sub(101, {0, IAC, IAC, IAC, IAC, 0}) + Sub(102, {7}) +
                                    Sub(103, {2}) + Sub(104, {2}) + Sub(105, {1}));
  EXPECT_EQ(Rfc2217Settings::kConfirmed, o.settings);
  EXPECT_EQ(0x00FFFF00u, o.remote.baud);
}

TEST(Rfc2217Settings, PurgeBothWaysAndItsAnswer) {
  Rfc2217 c = Agreed();
  std::string out;
  ASSERT_TRUE(Rfc2217Purge(c, out));
  EXPECT_EQ(B({IAC, SB, COMPORT, 12, 3, IAC, SE}), out);
  Outcome o = FeedEverySplit(c, "old" + Sub(112, {3}) + "new" + Sub(112, {3}));
  EXPECT_EQ(2u, o.remote.purges);
  EXPECT_EQ(3, o.remote.purge);
  EXPECT_EQ("oldnew", o.data);  // what was on its way is the caller's to drop
}

TEST(Rfc2217Data, BinaryLinePassesCrAndDoublesFF) {
  Rfc2217 c = Agreed();
  const std::string line = B({'\r', 0xFF, 0, 'a', 0xFF, 0xFF, '\r', '\n'});
  std::string out;
  Rfc2217Send(c, U(line), line.size(), out);
  EXPECT_EQ(B({'\r', IAC, IAC, 0, 'a', IAC, IAC, IAC, IAC, '\r', '\n'}), out);

  // CR NUL is two data bytes on a binary line; IAC IAC is one 0xFF.
  Outcome o = FeedEverySplit(c, B({'\r', 0, IAC, IAC, '\r', '\n', IAC, IAC, IAC, IAC, 'x'}));
  EXPECT_EQ(B({'\r', 0, 0xFF, '\r', '\n', 0xFF, 0xFF, 'x'}), o.data);
  EXPECT_EQ("", o.reply);
}

TEST(Rfc2217Data, WithoutBinaryCrTravelsAsCrNul) {
  // Servers with the option that refuse BINARY one way: that way alone
  // follows the NVT rule.
  const std::string line = B({'@', '\r', '\r', '\n', 0xFF});
  const std::string in = B({'a', '\r', 0, 'b', '\r', IAC, NOP, 0, '\r', '\n', 0, 0, IAC, IAC, 0});
  std::string out;

  // Not from us: every CR gets its NUL, as the next byte is not known yet.
  Rfc2217 c = After(Started(), B({IAC, DONT, BINARY, IAC, WILL, BINARY, IAC, DO, COMPORT}));
  EXPECT_FALSE(Rfc2217Binary(c));
  Rfc2217Send(c, U(line), line.size(), out);
  EXPECT_EQ(B({'@', '\r', 0, '\r', 0, '\n', IAC, IAC}), out);
  EXPECT_EQ(B({'a', '\r', 0, 'b', '\r', 0, '\r', '\n', 0, 0, 0xFF, 0}), FeedEverySplit(c, in).data);

  // Not from the server: the NUL after CR goes, also when a command or a
  // feed's end comes between them; a NUL anywhere else is data.
  c = After(Started(), B({IAC, DO, BINARY, IAC, WONT, BINARY, IAC, DO, COMPORT}));
  EXPECT_EQ(Rfc2217ComPort::kAgreed, Rfc2217ComPortState(c));
  out.clear();
  Rfc2217Send(c, U(line), line.size(), out);
  EXPECT_EQ(B({'@', '\r', '\r', '\n', IAC, IAC}), out);
  EXPECT_EQ(B({'a', '\r', 'b', '\r', '\r', '\n', 0, 0, 0xFF, 0}), FeedEverySplit(c, in).data);
}

TEST(Rfc2217Framing, FeedEndingAfterIac) {
  Rfc2217 c = Agreed();
  std::string reply;
  uint8_t data[8];
  // Data before the IAC comes out at once; the IAC waits for its partner.
  EXPECT_EQ(2u, Rfc2217Receive(c, U("ab\xff"), 3, data, reply));
  EXPECT_EQ(0, std::memcmp(data, "ab", 2));
  EXPECT_EQ(2u, Rfc2217Receive(c, U("\xff" "c"), 2, data, reply));
  EXPECT_EQ(0, std::memcmp(data, "\xff" "c", 2));
  // IAC, then WILL, then the option, each alone: a control-only wake-up each.
  EXPECT_EQ(0u, Rfc2217Receive(c, U("\xff"), 1, data, reply));
  EXPECT_EQ(0u, Rfc2217Receive(c, U("\xfb"), 1, data, reply));
  EXPECT_EQ("", reply);
  EXPECT_EQ(0u, Rfc2217Receive(c, U("\x18"), 1, data, reply));
  EXPECT_EQ(B({IAC, DONT, TTYPE}), reply);
}

TEST(Rfc2217Framing, LongAndBrokenSubnegotiations) {
  Rfc2217 c = Agreed();
  // Longer than the buffer, with escaped IACs and a purge answer's bytes
  // inside: framed to its IAC SE and dropped whole.
  std::string longSub = B({IAC, SB, COMPORT, 112, 3});
  for (int i = 0; i < 300; ++i) longSub += B({i & 0x7F, IAC, IAC});
  longSub += B({IAC, SE});
  // Exactly the buffer's size (a notification, ignored) is no overflow.
  std::string full =
      B({IAC, SB, COMPORT, 106}) + std::string(kRfc2217SubBytes - 1, 'n') + B({IAC, SE});
  // Another command where IAC SE belongs ends the subnegotiation unfinished:
  // the purge answer in it does not count, the WILL is answered.
  std::string cut = B({IAC, SB, COMPORT, 112, 3, IAC, WILL, TTYPE});
  // IAC SB IAC: no subnegotiation, the IAC starts the next command.
  std::string none = B({IAC, SB, IAC, DO, 200});
  Outcome o = FeedEverySplit(
      c, "a" + longSub + "b" + full + "c" + cut + "d" + none + Sub(112, {3}) + "e");
  EXPECT_EQ("abcde", o.data);
  EXPECT_EQ(B({IAC, DONT, TTYPE, IAC, WONT, 200}), o.reply);
  EXPECT_EQ(1u, o.remote.purges);
  EXPECT_TRUE(o.binary);  // the negotiation state beside the buffer untouched

  // A subnegotiation that never ends swallows what follows, in bounded
  // memory, until its IAC SE; then the line reads again.
  std::string reply;
  std::vector<uint8_t> data(1 << 16);
  size_t got = Rfc2217Receive(c, U(B({IAC, SB, COMPORT})), 3, data.data(), reply);
  const std::string endless(data.size(), 'q');
  for (int i = 0; i < 64; ++i) {
    got += Rfc2217Receive(c, U(endless), endless.size(), data.data(), reply);
  }
  EXPECT_EQ(0u, got);
  EXPECT_EQ(1u, Rfc2217Receive(c, U(B({IAC, SE, 'f'})), 3, data.data(), reply));
  EXPECT_EQ('f', data[0]);
  EXPECT_EQ("", reply);
}

TEST(Rfc2217Framing, GarbageStaysInBoundsAndAgreesWithAnyCut) {
  // Bytes heavy in IAC, commands and option numbers, in random pieces and
  // decoded in place, as the serial layer may; byte by byte must agree.
  std::mt19937 rng(2217);
  const int pool[] = {IAC, IAC, IAC, SB, SE, WILL, WONT, DO, DONT, GA, COMPORT, BINARY, SGA,
                      101, 112, '\r', 0, 'a'};
  std::string garbage;
  for (int i = 0; i < 200000; ++i) {
    garbage.push_back(static_cast<char>(rng() % 3 ? pool[rng() % std::size(pool)] : rng() % 256));
  }
  Rfc2217 c = Agreed();
  std::string buffer = garbage, data, reply;
  for (size_t at = 0; at < buffer.size();) {
    size_t n = std::min<size_t>(rng() % 40, buffer.size() - at);
    uint8_t* p = reinterpret_cast<uint8_t*>(buffer.data()) + at;
    data.append(reinterpret_cast<const char*>(p), Rfc2217Receive(c, p, n, p, reply));
    at += n;
  }
  Outcome bytewise = Feed(Agreed(), garbage, std::vector<size_t>(garbage.size(), 1));
  EXPECT_EQ(bytewise.data, data);
  EXPECT_EQ(bytewise.reply, reply);
  EXPECT_FALSE(data.empty());
  // Every three-byte answer needs a request of three bytes at least.
  EXPECT_LE(reply.size(), garbage.size());
}

}  // namespace
