// A serial line across the network, the parts that do not depend on the
// system's sockets: what VEKTON_COM<n> names, and the RFC 2217 connection
// (the codec with the bytes it owes the server and the line data it has
// decoded, the opening and the line settings waited for). The network line
// (NetLine.cpp) carries the bytes; this file decides what they mean.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Rfc2217.h"

enum class RemoteKind : uint8_t { kDevice, kTcp, kRfc2217 };

struct RemoteAddress {
  RemoteKind kind = RemoteKind::kDevice;
  std::string host;  // without the brackets of an IPv6 address
  std::string port;  // decimal, 1..65535
};

// Splits "HOST:PORT" or "[IPv6]:PORT" at the colon before the port: host
// without its brackets, port as written; neither part is checked further.
// False when there is no such colon, or when a host without brackets has a
// colon of its own (an IPv6 address needs them, or its port could not be
// told).
bool SplitHostPort(std::string_view text, std::string_view& host, std::string_view& port);

// Reads a port's setting: "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (the
// scheme in any case) is a network line, anything else a device path (kind
// kDevice, nothing else filled). Returns 0, or kSerialErrBadAddress when a
// network scheme is followed by something that is not HOST:PORT.
int ParseRemoteAddress(std::string_view setting, RemoteAddress& out);

// How much decoded line data waits for the reader. Bytes beyond it are left
// on the connection (the system's buffers hold them, the sender waits).
constexpr size_t kRemoteDataBytes = 4096;
// Bytes owed to the server that have not gone out. A server that keeps
// asking while it never takes our answers is cut off past this.
constexpr size_t kRemoteOutLimit = 65536;

struct Rfc2217Link {
  Rfc2217 codec;
  std::string out;  // owed to the server, in order
  uint8_t data[kRemoteDataBytes] = {};
  size_t dataLen = 0;
};

// Room for decoded data: feed at most this many received bytes at a time.
inline size_t Rfc2217LinkRoom(const Rfc2217Link& l) { return kRemoteDataBytes - l.dataLen; }
// Decodes n received bytes (n <= Rfc2217LinkRoom): data to the link's data,
// answers to out.
void Rfc2217LinkFeed(Rfc2217Link& l, const uint8_t* in, size_t n);
// Moves up to n decoded bytes to buf; returns how many.
size_t Rfc2217LinkTake(Rfc2217Link& l, uint8_t* buf, size_t n);

// One wait for the server, done by the system's side: send what l.out holds
// (as far as the connection takes it), wait until bytes come or deadlineUs,
// and feed what came to the link. Returns 0 after any such step (bytes or
// not), ETIMEDOUT once the deadline has passed, kSerialErrAbandoned on Esc,
// or the system's code when the connection failed.
using Rfc2217Pump = int (*)(void* ctx, Rfc2217Link& l, uint64_t deadlineUs);

// Starts the Telnet opening on a fresh connection and waits (until
// deadlineUs) for the server's word on the COM Port Control option. 0 when
// agreed; kSerialErrComPortRefused, kSerialErrNoTelnetAnswer, or the pump's
// failure.
int Rfc2217LinkOpen(Rfc2217Link& l, Rfc2217Pump pump, void* ctx, uint64_t deadlineUs);

// Sends the line settings and waits (until deadlineUs) until the server has
// confirmed every one. 0 when it did; kSerialErrLineRefused when it answered
// otherwise or not at all, EINVAL for settings no line runs, or the pump's
// failure (Esc included).
int Rfc2217LinkSetLine(Rfc2217Link& l, const Rfc2217Line& line, Rfc2217Pump pump, void* ctx,
                       uint64_t deadlineUs);
