// Serial ports by number. Port n is the platform's COMn: on Windows the device
// itself, on POSIX the path in VEKTON_COM<n> or /dev/ttyS<n-1>.
//
// On either system, VEKTON_COM<n> may also name a line across the network:
//   tcp://HOST:PORT      raw TCP: the bytes on the socket are the bytes on the
//                        line (a device server in raw mode, a controller's own
//                        Ethernet host link);
//   rfc2217://HOST:PORT  Telnet with the COM Port Control option: the remote
//                        line is set to what SerialSetSettings asks for.
// HOST is a name, an IPv4 address or an [IPv6] one in brackets. Such a port
// answers every call below as a device does; where it differs, the call says.
#pragma once
#include <cstdint>
#include <string>

using SerialHandle = intptr_t;
constexpr SerialHandle kInvalidSerialHandle = -1;

struct SerialSettings {
  uint32_t baud = 0;
  char parity = 'N';      // 'N', 'E' or 'O'
  uint8_t dataBits = 8;
  uint8_t stopBits = 1;   // 1 or 2
  // The settings' flag word: anything beyond plain binary transfer
  // (parity checking, flow control, modem lines, error replacement).
  bool flagsSet = false;
};

struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;  // ms: a read returns after this at the latest
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

// Failures the system has no code for: a network line's own. They lie above
// every errno and every Windows system error code (which end below 16000),
// so a code on the screen names one cause. SerialErrorText gives their text.
constexpr int kSerialErrHostNotFound = 20001;    // the host name does not resolve
constexpr int kSerialErrComPortRefused = 20002;  // Telnet server without RFC 2217
constexpr int kSerialErrNoTelnetAnswer = 20003;  // no answer to the COM-port option
constexpr int kSerialErrLineRefused = 20004;     // remote line settings not confirmed
constexpr int kSerialErrAbandoned = 20005;       // connecting given up with Esc
constexpr int kSerialErrBadAddress = 20006;      // not tcp:// or rfc2217://HOST:PORT

// The line went away under an open handle: the device is gone, or the
// connection was closed or reset by its far end. Silence is not this.
constexpr int kSerialErrLineLost = 20007;

// The text of one of the codes above; nullptr for any other code.
const char* SerialErrorText(int code);

// Opens port exclusively for reading and writing. Returns 0 and the handle,
// or the error code (the handle is then invalid): errno on POSIX (a refused
// connection ECONNREFUSED, an unreachable host EHOSTUNREACH or ENETUNREACH,
// no connection within 3 s ETIMEDOUT), GetLastError on Windows (for a
// connection the Winsock code: WSAECONNREFUSED 10061, WSAETIMEDOUT 10060,
// WSAEHOSTUNREACH 10065, ...), or one of the codes above. Connecting to a network line takes 3 s at most, name
// resolution included, and gives up at once on Esc (the Esc stays in the key
// queue for the caller). An RFC 2217 line is open only once the server has
// agreed to the COM Port Control option.
int SerialOpen(int port, SerialHandle& handle);
// The line settings. On a raw TCP line there is no line to set: the settings
// are accepted (when a line could run them) and remembered, and Get returns
// what was last set. On an RFC 2217 line Set sends them to the server and
// succeeds only once the server has confirmed every one (within 1 s; a
// refusal, another value or no answer fail with kSerialErrLineRefused, Esc
// with kSerialErrAbandoned); Get returns the settings last confirmed.
// Flow control is always none on a network line.
bool SerialGetSettings(SerialHandle h, SerialSettings& s);
bool SerialSetSettings(SerialHandle h, const SerialSettings& s);
bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t);
bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t);
// Discards both queues: what has arrived and not been read, and what has not
// gone out yet. An RFC 2217 line also asks the server to purge its buffers.
bool SerialPurge(SerialHandle h);
// Clears the error state; bytesWaiting receives the number of line bytes
// that can be read at once (on an RFC 2217 line: data, not Telnet control).
bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting);
// Reads up to count bytes; returns when count bytes have come or when the
// total read time-out (constant + multiplier * count) has passed, never
// earlier unless the bytes came. True with got = what came (possibly 0).
// A line that went away (device gone, connection closed or reset) fails,
// after the time-out has passed, so a caller polling in a loop never spins.
bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got);
// Writes count bytes; written says how many went. A line that does not take
// them within the write time-out (1 s without one) or that went away fails.
bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written);
void SerialClose(SerialHandle h);
// A line that went away (kSerialErrLineLost) stays down: every call on its
// handle fails with that code, and the handle stays valid, until this call
// finds the port there again. When the line is down and its last reopening
// is a second old (or there was none yet), it reopens the port by the same
// path or address with the settings and time-outs last set; a network line
// connects as SerialOpen does (3 s at most, Esc gives up). True when the
// line is up; false when it is down or the handle is not open.
bool SerialLineUp(SerialHandle h);
// The system error code (or one of the codes above) of the last failed call.
int SerialLastError();
// The code a port number outside the table reports (no such device).
int SerialNoDeviceError();
// What port n opens: its device's path, or the network address VEKTON_COM<n>
// names (the line's trace names it so).
std::string SerialPortLine(int port);
