// The Telnet / COM Port Control codec: see Rfc2217.h for what is negotiated.
#include "platform/Rfc2217.h"

namespace {

// Telnet commands (RFC 854).
constexpr uint8_t kIacByte = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

// Options.
constexpr uint8_t kBinary = 0;
constexpr uint8_t kSga = 3;
constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers with the
// command plus 100.
constexpr uint8_t kSetBaud = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kAnswer = 100;

constexpr uint8_t kNoFlowControl = 1;
constexpr uint8_t kPurgeBoth = 3;

// Bits of Rfc2217::answered.
constexpr uint8_t kBaudBit = 1, kDataSizeBit = 2, kParityBit = 4, kStopSizeBit = 8,
                  kFlowBit = 16, kAllBits = 31;

using Side = Rfc2217::Side;

void Put(std::string& out, uint8_t b) { out.push_back(static_cast<char>(b)); }

void Command(std::string& out, uint8_t verb, uint8_t option) {
  Put(out, kIacByte);
  Put(out, verb);
  Put(out, option);
}

// Options we perform when asked (the server's DO). COM-PORT-OPTION is ours
// to use: the server's DO is exactly what we asked for.
bool WeAgree(uint8_t option) {
  return option == kBinary || option == kSga || option == kComPort;
}

// Options the server may perform (its WILL). Not COM-PORT-OPTION: a server
// offering to send us COM-PORT commands takes us for an access server.
bool HeMay(uint8_t option) { return option == kBinary || option == kSga; }

// One side of an option receiving the peer's request to enable it. Returns
// true when an answer is owed: agree (yes) or refuse (no); an answer to our
// own request and a repeated request get none.
bool Enable(Side& side, bool agree, bool& yes) {
  switch (side) {
    case Rfc2217::kNo:
      yes = agree;
      side = agree ? Rfc2217::kYes : Rfc2217::kRefusedNo;
      return true;
    case Rfc2217::kWantYes:
      side = Rfc2217::kYes;
      return false;
    case Rfc2217::kYes:
    case Rfc2217::kRefusedNo:
      return false;
  }
  return false;
}

// One side receiving the peer's demand to disable it. Returns true when it
// was on and the change must be acknowledged.
bool Disable(Side& side) {
  if (side == Rfc2217::kYes) {
    side = Rfc2217::kNo;
    return true;
  }
  if (side == Rfc2217::kWantYes) side = Rfc2217::kNo;  // our request refused
  return false;
}

void Negotiate(Rfc2217& c, uint8_t verb, uint8_t option, std::string& reply) {
  bool yes = false;
  switch (verb) {
    case kWill:
      if (Enable(c.him[option], HeMay(option), yes)) Command(reply, yes ? kDo : kDont, option);
      break;
    case kWont:
      if (Disable(c.him[option])) Command(reply, kDont, option);
      // A server that answers our WILL COM-PORT-OPTION with WONT does not
      // have the option either.
      if (option == kComPort && c.us[option] == Rfc2217::kWantYes) c.us[option] = Rfc2217::kNo;
      break;
    case kDo:
      if (Enable(c.us[option], WeAgree(option), yes)) Command(reply, yes ? kWill : kWont, option);
      break;
    case kDont:
      if (Disable(c.us[option])) Command(reply, kWont, option);
      break;
    default:
      break;
  }
}

uint8_t FlowCode(uint8_t value) {
  // SET-CONTROL answers also report BREAK, DTR, RTS and inbound flow
  // control; only the outbound (or both-way) flow control is ours to check.
  switch (value) {
    case 1: case 2: case 3: case 17: case 19:
      return value;
    default:
      return 0;
  }
}

void Subnegotiation(Rfc2217& c) {
  if (c.sbOption != kComPort || c.sbLen < 2) return;
  const uint8_t* v = c.sb + 1;
  const size_t len = c.sbLen - 1u;
  Rfc2217Reported& r = c.reported;
  switch (c.sb[0]) {
    case kAnswer + kSetBaud:
      if (len != 4) return;
      r.baud = static_cast<uint32_t>(v[0]) << 24 | static_cast<uint32_t>(v[1]) << 16 |
               static_cast<uint32_t>(v[2]) << 8 | v[3];
      c.answered |= kBaudBit;
      return;
    case kAnswer + kSetDataSize:
      if (len != 1) return;
      r.dataSize = v[0];
      c.answered |= kDataSizeBit;
      return;
    case kAnswer + kSetParity:
      if (len != 1) return;
      r.parity = v[0];
      c.answered |= kParityBit;
      return;
    case kAnswer + kSetStopSize:
      if (len != 1) return;
      r.stopSize = v[0];
      c.answered |= kStopSizeBit;
      return;
    case kAnswer + kSetControl:
      if (len != 1 || FlowCode(v[0]) == 0) return;
      r.flowControl = v[0];
      c.answered |= kFlowBit;
      return;
    case kAnswer + kPurgeData:
      if (len != 1) return;
      r.purge = v[0];
      ++r.purges;
      return;
    default:
      // Line and modem state notifications, flow control suspend and
      // resume, signatures, masks: nothing the console acts on.
      return;
  }
}

void SubByte(Rfc2217& c, uint8_t b) {
  if (c.sbLen < kRfc2217SubBytes) {
    c.sb[c.sbLen++] = b;
  } else {
    c.sbOverflow = true;
  }
}

void DataByte(Rfc2217& c, uint8_t b, uint8_t* data, size_t& got) {
  if (c.him[kBinary] != Rfc2217::kYes) {
    // NVT: a bare CR travels as CR NUL; the NUL is no data.
    bool stuffed = c.crSeen && b == 0;
    c.crSeen = b == '\r';
    if (stuffed) return;
  } else {
    c.crSeen = false;
  }
  data[got++] = b;
}

// The byte after an IAC outside a subnegotiation.
void AfterIac(Rfc2217& c, uint8_t b, uint8_t* data, size_t& got) {
  c.parse = Rfc2217::kData;
  if (b == kIacByte) {
    DataByte(c, b, data, got);
  } else if (b >= kWill) {
    c.verb = b;
    c.parse = Rfc2217::kVerb;
  } else if (b == kSb) {
    c.parse = Rfc2217::kSubOption;
  }
  // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, a stray SE and bytes that are no
  // command at all: dropped.
}

void Sub(std::string& out, uint8_t command, const uint8_t* value, size_t n) {
  Put(out, kIacByte);
  Put(out, kSb);
  Put(out, kComPort);
  Put(out, command);
  for (size_t i = 0; i < n; ++i) {
    Put(out, value[i]);
    if (value[i] == kIacByte) Put(out, kIacByte);
  }
  Put(out, kIacByte);
  Put(out, kSe);
}

void Sub(std::string& out, uint8_t command, uint8_t value) { Sub(out, command, &value, 1); }

uint8_t ParityCode(char parity) {
  switch (parity) {
    case 'N': return 1;
    case 'O': return 2;
    case 'E': return 3;
    case 'M': return 4;
    case 'S': return 5;
    default: return 0;
  }
}

}  // namespace

void Rfc2217Start(Rfc2217& c, std::string& out) {
  c = Rfc2217{};
  c.started = true;
  c.us[kBinary] = c.him[kBinary] = Rfc2217::kWantYes;
  c.us[kSga] = c.him[kSga] = Rfc2217::kWantYes;
  c.us[kComPort] = Rfc2217::kWantYes;
  Command(out, kWill, kBinary);
  Command(out, kDo, kBinary);
  Command(out, kWill, kSga);
  Command(out, kDo, kSga);
  Command(out, kWill, kComPort);
}

size_t Rfc2217Receive(Rfc2217& c, const uint8_t* in, size_t n, uint8_t* data,
                      std::string& reply) {
  // data may alias in: byte i is read before anything is written at or
  // after position i, as no byte ever yields more than one data byte.
  size_t got = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = in[i];
    switch (c.parse) {
      case Rfc2217::kData:
        if (b == kIacByte) {
          c.parse = Rfc2217::kIac;
        } else {
          DataByte(c, b, data, got);
        }
        break;
      case Rfc2217::kIac:
        AfterIac(c, b, data, got);
        break;
      case Rfc2217::kVerb:
        Negotiate(c, c.verb, b, reply);
        c.parse = Rfc2217::kData;
        break;
      case Rfc2217::kSubOption:
        if (b == kIacByte) {
          c.parse = Rfc2217::kIac;  // IAC SB IAC: no subnegotiation after all
        } else {
          c.sbOption = b;
          c.sbLen = 0;
          c.sbOverflow = false;
          c.parse = Rfc2217::kSub;
        }
        break;
      case Rfc2217::kSub:
        if (b == kIacByte) {
          c.parse = Rfc2217::kSubIac;
        } else {
          SubByte(c, b);
        }
        break;
      case Rfc2217::kSubIac:
        if (b == kIacByte) {
          SubByte(c, b);
          c.parse = Rfc2217::kSub;
        } else if (b == kSe) {
          if (!c.sbOverflow) Subnegotiation(c);
          c.parse = Rfc2217::kData;
        } else {
          // Any other command ends the subnegotiation unfinished (RFC 855
          // leaves it undefined): it is dropped and the command stands, so a
          // server that lost an IAC SE cannot swallow the line for good.
          AfterIac(c, b, data, got);
        }
        break;
    }
  }
  return got;
}

void Rfc2217Send(const Rfc2217& c, const uint8_t* data, size_t n, std::string& out) {
  const bool binary = c.us[kBinary] == Rfc2217::kYes;
  for (size_t i = 0; i < n; ++i) {
    Put(out, data[i]);
    if (data[i] == kIacByte) {
      Put(out, kIacByte);
    } else if (data[i] == '\r' && !binary) {
      Put(out, 0);
    }
  }
}

bool Rfc2217SetLine(Rfc2217& c, const Rfc2217Line& line, std::string& out) {
  if (Rfc2217ComPortState(c) != Rfc2217ComPort::kAgreed) return false;
  const uint8_t parity = ParityCode(line.parity);
  if (line.baud == 0 || line.dataBits < 5 || line.dataBits > 8 || parity == 0 ||
      (line.stopBits != 1 && line.stopBits != 2)) {
    return false;  // 0 would ask for the current value instead of setting one
  }
  c.requested = true;
  c.askBaud = line.baud;
  c.askDataSize = line.dataBits;
  c.askParity = parity;
  c.askStopSize = line.stopBits;
  c.askFlow = kNoFlowControl;
  c.answered = 0;

  const uint8_t baud[4] = {static_cast<uint8_t>(line.baud >> 24),
                           static_cast<uint8_t>(line.baud >> 16),
                           static_cast<uint8_t>(line.baud >> 8),
                           static_cast<uint8_t>(line.baud)};
  Sub(out, kSetBaud, baud, sizeof baud);
  Sub(out, kSetDataSize, c.askDataSize);
  Sub(out, kSetParity, c.askParity);
  Sub(out, kSetStopSize, c.askStopSize);
  Sub(out, kSetControl, c.askFlow);
  return true;
}

bool Rfc2217Purge(const Rfc2217& c, std::string& out) {
  if (Rfc2217ComPortState(c) != Rfc2217ComPort::kAgreed) return false;
  Sub(out, kPurgeData, kPurgeBoth);
  return true;
}

Rfc2217ComPort Rfc2217ComPortState(const Rfc2217& c) {
  switch (c.us[kComPort]) {
    case Rfc2217::kYes:
      return Rfc2217ComPort::kAgreed;
    case Rfc2217::kWantYes:
      return Rfc2217ComPort::kPending;
    default:
      return c.started ? Rfc2217ComPort::kRefused : Rfc2217ComPort::kPending;
  }
}

Rfc2217Settings Rfc2217SettingsState(const Rfc2217& c) {
  if (!c.requested) return Rfc2217Settings::kNone;
  const Rfc2217Reported& r = c.reported;
  const bool differs = ((c.answered & kBaudBit) && r.baud != c.askBaud) ||
                       ((c.answered & kDataSizeBit) && r.dataSize != c.askDataSize) ||
                       ((c.answered & kParityBit) && r.parity != c.askParity) ||
                       ((c.answered & kStopSizeBit) && r.stopSize != c.askStopSize) ||
                       ((c.answered & kFlowBit) && r.flowControl != c.askFlow);
  if (differs) return Rfc2217Settings::kDiffers;
  return c.answered == kAllBits ? Rfc2217Settings::kConfirmed : Rfc2217Settings::kPending;
}

const Rfc2217Reported& Rfc2217Remote(const Rfc2217& c) { return c.reported; }

bool Rfc2217Binary(const Rfc2217& c) {
  return c.us[kBinary] == Rfc2217::kYes && c.him[kBinary] == Rfc2217::kYes;
}
