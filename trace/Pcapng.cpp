#include "trace/Pcapng.h"

#include <cstddef>
#include <cstdint>

namespace trace {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 0x00000001;
constexpr uint32_t kEnhancedPacket = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kLinkTypeUser0 = 147;

constexpr uint16_t kOptEnd = 0;
constexpr uint16_t kOptComment = 1;
constexpr uint16_t kShbUserAppl = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfTsresol = 9;
constexpr uint16_t kEpbFlags = 2;

// epb_flags bits 0-1: the packet's direction.
constexpr uint32_t kInbound = 1;
constexpr uint32_t kOutbound = 2;

// An option's value is at most 65535 bytes; an appl text longer than that is
// cut (no writer's name comes near it, and an event's comment is at most
// four bytes of text for each of kMaxPayload bytes).
constexpr size_t kMaxOptionValue = 0xFFFF;

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 32; i += 8) out += static_cast<char>((v >> i) & 0xFF);
}

// A block is written in place at the end of out, which may already hold
// anything: its type and a length filled in at the end, the body padded to 32
// bits from the block's start, then the length again.
struct Block {
  std::string& out;
  size_t at;

  Block(std::string& o, uint32_t type) : out(o), at(o.size()) {
    Put32(out, type);
    Put32(out, 0);
  }
  void Pad() {
    while ((out.size() - at) % 4 != 0) out += '\0';
  }
  void Option(uint16_t code, std::string_view value) {
    value = value.substr(0, kMaxOptionValue);
    Put16(out, code);
    Put16(out, static_cast<uint16_t>(value.size()));
    out += value;
    Pad();
  }
  void End() {
    Put16(out, kOptEnd);
    Put16(out, 0);
    const auto total = static_cast<uint32_t>(out.size() + 4 - at);
    Put32(out, total);
    for (int i = 0; i < 4; ++i) out[at + 4 + i] = static_cast<char>((total >> (8 * i)) & 0xFF);
  }
};

}  // namespace

void AppendPcapngStart(std::string& out, std::string_view appl) {
  Block shb(out, kSectionHeader);
  Put32(out, kByteOrderMagic);
  Put16(out, 1);  // major version
  Put16(out, 0);  // minor version
  // Section length unknown (-1): the file is written as it goes.
  Put32(out, 0xFFFFFFFF);
  Put32(out, 0xFFFFFFFF);
  shb.Option(kShbUserAppl, appl);
  shb.End();

  Block idb(out, kInterfaceDescription);
  Put16(out, kLinkTypeUser0);
  Put16(out, 0);  // reserved
  Put32(out, 0);  // snap length: none
  idb.Option(kIfName, "host link");
  idb.Option(kIfTsresol, std::string_view("\x06", 1));  // 10^-6 s
  idb.End();
}

void AppendPcapngRecord(std::string& out, const Record& r) {
  const bool bytes = r.word == Word::kTx || r.word == Word::kRx;
  const std::string_view payload = std::string_view(r.payload).substr(0, kMaxPayload);
  const std::string_view data = bytes ? payload : std::string_view();
  const uint64_t ts = r.wallUs < 0 ? 0 : static_cast<uint64_t>(r.wallUs);

  Block epb(out, kEnhancedPacket);
  Put32(out, 0);  // interface 0, the only one
  Put32(out, static_cast<uint32_t>(ts >> 32));
  Put32(out, static_cast<uint32_t>(ts & 0xFFFFFFFF));
  Put32(out, static_cast<uint32_t>(data.size()));  // captured
  Put32(out, static_cast<uint32_t>(data.size()));  // original
  out += data;
  epb.Pad();
  if (bytes) {
    std::string flags;
    Put32(flags, r.word == Word::kRx ? kInbound : kOutbound);
    epb.Option(kEpbFlags, flags);
  } else {
    // The event as its record line shows it, escaped, so that the comment is
    // plain ASCII whatever bytes the payload holds.
    std::string comment = WordName(r.word);
    if (!payload.empty()) {
      comment += ' ';
      EscapeBytes(payload, comment);
    }
    epb.Option(kOptComment, comment);
  }
  epb.End();
}

}  // namespace trace
