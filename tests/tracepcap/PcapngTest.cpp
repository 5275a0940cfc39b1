// The pcapng writer: the blocks of one TX, one RX and one event checked at
// the bytes Wireshark reads, and whole files read back block by block.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "trace/Pcapng.h"

namespace {

using trace::Record;
using trace::Word;

uint32_t U32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
  return v;
}

uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}

Record Rec(Word w, int64_t wallUs, std::string payload) {
  Record r;
  r.wallUs = wallUs;
  r.word = w;
  r.payload = std::move(payload);
  return r;
}

// What a reader of the file gets back from one enhanced packet block.
struct Packet {
  uint64_t ts = 0;
  std::string data;
  bool hasFlags = false;
  uint32_t flags = 0;
  std::string comment;
};

struct Capture {
  std::string appl, ifName;
  uint16_t linkType = 0;
  int tsresol = -1;
  std::vector<Packet> packets;
};

// Options from at to end; false unless they are well formed and end with
// opt_endofopt exactly at end.
template <typename F>
bool ReadOptions(const std::string& b, size_t at, size_t end, F each) {
  while (at + 4 <= end) {
    const uint16_t code = U16(b, at), len = U16(b, at + 2);
    if (code == 0) return len == 0 && at + 4 == end;
    const size_t padded = (len + 3u) / 4 * 4;
    if (at + 4 + padded > end) return false;
    for (size_t i = at + 4 + len; i < at + 4 + padded; ++i)
      if (b[i] != '\0') return false;
    each(code, b.substr(at + 4, len));
    at += 4 + padded;
  }
  return false;
}

// A small pcapng reader for what the writer makes: one section, one
// interface, then packets. Fails the test on any block that is not exact.
Capture Read(const std::string& b) {
  Capture c;
  size_t at = 0;
  int block = 0;
  while (at < b.size()) {
    EXPECT_LE(at + 12, b.size());
    if (at + 12 > b.size()) break;
    const uint32_t type = U32(b, at), total = U32(b, at + 4);
    EXPECT_EQ(total % 4, 0u) << "block " << block;
    EXPECT_LE(at + total, b.size()) << "block " << block;
    if (total % 4 != 0 || total < 12 || at + total > b.size()) break;
    EXPECT_EQ(U32(b, at + total - 4), total) << "block " << block << ": trailing length";
    const size_t end = at + total - 4;
    if (block == 0) {
      EXPECT_EQ(type, 0x0A0D0D0Au);
      EXPECT_EQ(U32(b, at + 8), 0x1A2B3C4Du);
      EXPECT_EQ(U16(b, at + 12), 1);
      EXPECT_EQ(U16(b, at + 14), 0);
      EXPECT_TRUE(ReadOptions(b, at + 24, end, [&](uint16_t code, std::string v) {
        if (code == 4) c.appl = v;
      }));
    } else if (block == 1) {
      EXPECT_EQ(type, 1u);
      c.linkType = U16(b, at + 8);
      EXPECT_TRUE(ReadOptions(b, at + 16, end, [&](uint16_t code, std::string v) {
        if (code == 2) c.ifName = v;
        if (code == 9 && v.size() == 1) c.tsresol = static_cast<uint8_t>(v[0]);
      }));
    } else {
      EXPECT_EQ(type, 6u);
      EXPECT_EQ(U32(b, at + 8), 0u) << "interface";
      Packet p;
      p.ts = static_cast<uint64_t>(U32(b, at + 12)) << 32 | U32(b, at + 16);
      const uint32_t captured = U32(b, at + 20);
      EXPECT_EQ(U32(b, at + 24), captured) << "original length";
      const size_t opts = at + 28 + (captured + 3u) / 4 * 4;
      EXPECT_LE(opts, end);
      if (opts > end) break;
      p.data = b.substr(at + 28, captured);
      EXPECT_TRUE(ReadOptions(b, opts, end, [&](uint16_t code, std::string v) {
        if (code == 2 && v.size() == 4) {
          p.hasFlags = true;
          p.flags = U32(v, 0);
        }
        if (code == 1) p.comment = v;
      }));
      c.packets.push_back(p);
    }
    at += total;
    ++block;
  }
  return c;
}

// 2026-12-09 03:20:00.123456 UTC: its high half is not zero.
constexpr int64_t kT = 1796786400123456;

TEST(PcapngTest, BlocksOfOneTxOneRxAndOneEventAtTheirBytes) {
  std::string start;
  trace::AppendPcapngStart(start, "vekton-trace 1.0.0");
  // SHB: 28 fixed bytes, shb_userappl (18 bytes padded to 20), end of options.
  ASSERT_EQ(start.size() % 4, 0u);
  EXPECT_EQ(U32(start, 4), 28u + 4 + 20 + 4);
  EXPECT_EQ(U32(start, 16), 0xFFFFFFFFu) << "section length unknown";
  EXPECT_EQ(U16(start, 24), 4);
  EXPECT_EQ(U16(start, 26), 18);
  EXPECT_EQ(start.substr(28, 18), "vekton-trace 1.0.0");
  EXPECT_EQ(start.substr(46, 2), std::string(2, '\0'));
  const size_t idb = U32(start, 4);
  EXPECT_EQ(U32(start, idb), 1u);
  EXPECT_EQ(U16(start, idb + 8), 147);
  EXPECT_EQ(U32(start, idb + 12), 0u) << "snap length";
  EXPECT_EQ(idb + U32(start, idb + 4), start.size());

  std::string tx;
  trace::AppendPcapngRecord(tx, Rec(Word::kTx, kT, "RD DM200\r"));  // 9 bytes: 3 of padding
  ASSERT_EQ(tx.size(), 28u + 12 + 4 + 4 + 4 + 4);
  EXPECT_EQ(U32(tx, 0), 6u);
  EXPECT_EQ(U32(tx, 4), tx.size());
  EXPECT_EQ(U32(tx, tx.size() - 4), tx.size());
  EXPECT_EQ(U32(tx, 12), static_cast<uint32_t>(kT >> 32));
  EXPECT_EQ(U32(tx, 16), static_cast<uint32_t>(kT & 0xFFFFFFFF));
  EXPECT_EQ(U32(tx, 20), 9u);
  EXPECT_EQ(U32(tx, 24), 9u);
  EXPECT_EQ(tx.substr(28, 12), std::string("RD DM200\r\0\0\0", 12));
  EXPECT_EQ(U16(tx, 40), 2) << "epb_flags";
  EXPECT_EQ(U16(tx, 42), 4);
  EXPECT_EQ(U32(tx, 44), 2u) << "outbound";
  EXPECT_EQ(U32(tx, 48), 0u) << "opt_endofopt";

  std::string rx;
  trace::AppendPcapngRecord(rx, Rec(Word::kRx, kT + 12300, "00123\r\n"));  // 7 bytes: 1 of padding
  ASSERT_EQ(rx.size(), 28u + 8 + 8 + 4 + 4);
  EXPECT_EQ(U32(rx, 20), 7u);
  EXPECT_EQ(rx[35], '\0');
  EXPECT_EQ(U32(rx, 40), 1u) << "inbound";

  std::string ev;
  const std::string comment = "OPEN COM1 /dev/pts/3 9600 8E1 code 0";  // 36 bytes
  trace::AppendPcapngRecord(ev, Rec(Word::kOpen, kT, "COM1 /dev/pts/3 9600 8E1 code 0"));
  ASSERT_EQ(ev.size(), 28u + 4 + 36 + 4 + 4);
  EXPECT_EQ(U32(ev, 20), 0u) << "an event is an empty packet";
  EXPECT_EQ(U16(ev, 28), 1) << "opt_comment";
  EXPECT_EQ(U16(ev, 30), 36);
  EXPECT_EQ(ev.substr(32, 36), comment);
}

TEST(PcapngTest, AFileReadsBackAsItsRecords) {
  std::vector<Record> records = {
      Rec(Word::kHead, kT, "vekton 1.0.0 part=1 host=lab port=1 line=/dev/pts/3 operator=Anna M"),
      Rec(Word::kPurge, kT + 10, ""),
      Rec(Word::kTx, kT + 20, "R"),  // a command typed byte by byte
      Rec(Word::kTx, kT + 30, "D 1915\r"),
      Rec(Word::kRx, kT + 5000, "1"),  // an answer in pieces
      Rec(Word::kRx, kT + 5100, "\r\n"),
      Rec(Word::kRx, kT + 6000, std::string("\x00\xFF\x7F", 3)),
      Rec(Word::kLost, kT + 7000, std::string("COM1 <\\ \x01\xE9", 10)),
      Rec(Word::kTx, kT + 8000, std::string(trace::kMaxPayload + 5, 'x')),
      Rec(Word::kTx, -5, "WR DM20 5\r"),
  };
  std::string file;
  trace::AppendPcapngStart(file, "vekton-trace 1.0.0");
  for (const Record& r : records) trace::AppendPcapngRecord(file, r);

  const Capture c = Read(file);
  EXPECT_EQ(c.appl, "vekton-trace 1.0.0");
  EXPECT_EQ(c.linkType, 147);
  EXPECT_EQ(c.ifName, "host link");
  EXPECT_EQ(c.tsresol, 6);
  ASSERT_EQ(c.packets.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    const Packet& p = c.packets[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(p.ts, r.wallUs < 0 ? 0u : static_cast<uint64_t>(r.wallUs));
    if (r.word == Word::kTx || r.word == Word::kRx) {
      EXPECT_EQ(p.data, r.payload.substr(0, trace::kMaxPayload));
      EXPECT_TRUE(p.hasFlags);
      EXPECT_EQ(p.flags, r.word == Word::kRx ? 1u : 2u);
      EXPECT_EQ(p.comment, "");
    } else {
      EXPECT_EQ(p.data, "");
      EXPECT_FALSE(p.hasFlags);
      std::string want = trace::WordName(r.word);
      if (!r.payload.empty()) {
        want += ' ';
        trace::EscapeBytes(r.payload, want);
      }
      EXPECT_EQ(p.comment, want);
    }
  }
  EXPECT_EQ(c.packets[0].comment.substr(0, 18), "HEAD vekton 1.0.0 ");
  EXPECT_EQ(c.packets[1].comment, "PURGE");
  EXPECT_EQ(c.packets[7].comment, "LOST COM1 \\x3C\\x5C <SOH>\\xE9");

  // Appended to a buffer that does not end on 32 bits, a block pads from its
  // own start.
  std::string odd = "abc";
  trace::AppendPcapngRecord(odd, records[3]);
  std::string alone;
  trace::AppendPcapngRecord(alone, records[3]);
  EXPECT_EQ(odd.substr(3), alone);
}

}  // namespace
