// Telnet with the COM Port Control option (RFC 2217, on RFC 854/855), client
// side, as a pure codec: bytes from the server in, line data and the answers
// owed to the server out, and the requests that set the remote line. No
// sockets, no clock, no allocation but the caller's strings: the serial layer
// carries the bytes and decides how long it waits for the server.
//
// What is negotiated. The opening asks for BINARY both ways (so CR and 0xFF
// pass as they are, no CR NUL stuffing), SUPPRESS-GO-AHEAD both ways (a full
// duplex line; GO AHEAD is never sent and dropped when received) and offers
// COM-PORT-OPTION (we send its commands, the server answers DO or DONT).
// Requests from the server: DO/WILL for BINARY and SUPPRESS-GO-AHEAD and DO
// COM-PORT-OPTION are agreed; everything else (ECHO included, which would
// turn our commands back into answers, and WILL COM-PORT-OPTION: we are no
// access server) is refused once per option and direction and ignored after
// that, so a server that repeats a request gets no second answer and no loop
// can start. Each option's two sides follow RFC 1143: an answer to one of our
// own requests is never answered, a request that changes nothing is ignored.
//
// Should the server switch BINARY off in a direction, that direction falls
// back to the Telnet NVT rule for CR (CR NUL), as RFC 854 asks.
//
// Bounded: a subnegotiation keeps at most kRfc2217SubBytes bytes; a longer one
// is framed to its IAC SE and dropped. The codec's size is fixed. Receive
// gives at most one data byte per byte in, and at most one 3-byte answer per
// complete negotiation command in (so never more reply bytes than bytes
// received in all); Send at most twice the data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kRfc2217SubBytes = 64;

// Where the COM-PORT-OPTION negotiation stands.
enum class Rfc2217ComPort : uint8_t {
  kPending,  // not started, or the server has not answered our WILL yet
  kAgreed,   // the server sent DO: the line's settings can be sent
  kRefused,  // the server answered DONT (or WONT), or withdrew its DO later:
             // a Telnet server without RFC 2217, not to be used half
             // configured
};

// Whether the line settings last requested are in force at the server.
enum class Rfc2217Settings : uint8_t {
  kNone,       // no settings requested since Start
  kPending,    // some setting not answered yet
  kConfirmed,  // every setting answered with the value asked
  kDiffers,    // a setting answered with another value than asked
};

// The settings of the remote line; flow control is always none.
struct Rfc2217Line {
  uint32_t baud = 9600;
  uint8_t dataBits = 8;  // 5 to 8
  char parity = 'N';     // 'N', 'O', 'E', 'M' (mark) or 'S' (space)
  uint8_t stopBits = 1;  // 1 or 2
};

// What the server last reported, in RFC 2217's own codes; 0 = not reported.
struct Rfc2217Reported {
  uint32_t baud = 0;
  uint8_t dataSize = 0;     // 5 to 8
  uint8_t parity = 0;       // 1 none, 2 odd, 3 even, 4 mark, 5 space
  uint8_t stopSize = 0;     // 1 one, 2 two, 3 one and a half
  uint8_t flowControl = 0;  // outbound: 1 none, 2 XON/XOFF, 3 hardware, 17 DCD, 19 DSR
  uint8_t purge = 0;        // the last purge answered: 1 receive, 2 transmit, 3 both
  uint32_t purges = 0;      // purge answers received since Start

  bool operator==(const Rfc2217Reported&) const = default;
};

// The codec's state for one connection. A plain value: its fields are the
// codec's own, read them through the functions below.
struct Rfc2217 {
  // One side of one option (RFC 1143, without the queue: we never change
  // our mind, so no request of ours is ever withdrawn).
  // kRefusedNo: off, and the peer's request for it refused once already.
  enum Side : uint8_t { kNo, kYes, kWantYes, kRefusedNo };
  enum Parse : uint8_t { kData, kIac, kVerb, kSubOption, kSub, kSubIac };

  bool started = false;
  Parse parse = kData;
  uint8_t verb = 0;  // WILL, WONT, DO or DONT waiting for its option byte
  bool crSeen = false;  // the last data byte received was CR (NVT rule)
  uint8_t sbOption = 0;
  bool sbOverflow = false;
  uint8_t sbLen = 0;
  uint8_t sb[kRfc2217SubBytes] = {};
  Side us[256] = {};   // we perform the option (our WILL, the server's DO)
  Side him[256] = {};  // the server performs it (our DO, its WILL)

  // Settings asked for, in RFC 2217 codes, and which were answered since.
  bool requested = false;
  uint32_t askBaud = 0;
  uint8_t askDataSize = 0, askParity = 0, askStopSize = 0, askFlow = 0;
  uint8_t answered = 0;  // one bit per setting
  Rfc2217Reported reported;
};

// Resets c for a new connection and appends the opening negotiation to out
// (15 bytes: WILL BINARY, DO BINARY, WILL SGA, DO SGA, WILL COM-PORT-OPTION,
// each after IAC). Send it before anything else on the connection.
void Rfc2217Start(Rfc2217& c, std::string& out);

// Takes n bytes received from the server, in any cut: a feed may end inside
// a command or a subnegotiation, the next one goes on from there. Writes the
// line's data bytes to data (at most n; data may be the same buffer as in)
// and returns their count: 0 when the bytes carried only Telnet control.
// Appends to reply what must be sent back to the server (negotiation answers
// only, never data). Never fails: garbage is dropped.
size_t Rfc2217Receive(Rfc2217& c, const uint8_t* in, size_t n, uint8_t* data,
                      std::string& reply);

// Appends to out the n line bytes data as they go on the connection: 0xFF
// doubled, and CR followed by NUL while the server has not agreed to BINARY
// from us.
void Rfc2217Send(const Rfc2217& c, const uint8_t* data, size_t n, std::string& out);

// Appends to out the requests that set the remote line (baud rate, data
// size, parity, stop size, no flow control, in the order RFC 2217
// recommends) and remembers them, so that the answers can be checked. False,
// and nothing appended, when the server has not agreed to COM-PORT-OPTION or
// the settings cannot be expressed (baud 0, data bits outside 5..8, another
// parity letter, stop bits other than 1 or 2). A later call replaces what
// is checked: an answer to the earlier request that comes after it counts
// for the new one.
bool Rfc2217SetLine(Rfc2217& c, const Rfc2217Line& line, std::string& out);

// Appends to out the request that discards the server's buffers both ways.
// Bytes already on their way to us are not purged: the caller drains what
// it has received through Rfc2217Receive (to keep the framing) and drops the
// data. False, and nothing appended, before COM-PORT-OPTION is agreed.
bool Rfc2217Purge(const Rfc2217& c, std::string& out);

// The state after the bytes received so far; see the enums above. Waiting
// for the server (and giving up on one that never answers) is the caller's.
Rfc2217ComPort Rfc2217ComPortState(const Rfc2217& c);
Rfc2217Settings Rfc2217SettingsState(const Rfc2217& c);
// The values the server last reported, for telling the operator what the
// remote line was set to when it differs; valid as long as c.
const Rfc2217Reported& Rfc2217Remote(const Rfc2217& c);
// BINARY agreed both ways: CR and 0xFF pass as they are.
bool Rfc2217Binary(const Rfc2217& c);
