// The Win32 serial layer inside: serial.cpp keeps the table of open ports,
// each either a comm handle (the kernel32 calls, as ever) or a line across
// the network, whose steps live in serial_net.cpp. The network line keeps its
// own time-outs, since a socket has no driver that keeps them.
// Nothing outside platform/win32 includes this.
#pragma once
#include <cstdint>

#include "platform/remote_line.h"
#include "platform/serial.h"

namespace win32 {

struct NetLine;  // a connection and what the serial calls keep for it

// Connects to address (3 s at most, name lookup included, given up on Esc).
// 0 and the line (freed by NetClose), or the error code: a Winsock code,
// or one of serial.h's own.
int NetOpen(const RemoteAddress& address, NetLine*& line);
bool NetGetSettings(NetLine& l, SerialSettings& s);
bool NetSetSettings(NetLine& l, const SerialSettings& s);
bool NetGetTimeouts(NetLine& l, SerialTimeouts& t);
bool NetSetTimeouts(NetLine& l, const SerialTimeouts& t);
bool NetPurge(NetLine& l);
bool NetClearError(NetLine& l, uint32_t& bytesWaiting);
bool NetRead(NetLine& l, uint8_t* buffer, uint32_t count, uint32_t& got);
bool NetWrite(NetLine& l, const uint8_t* data, uint32_t count, uint32_t& written);
// An event signalled when bytes (or the connection's end) reach the socket,
// made on first use; reset before each sleep. Null if none could be made.
void* NetWaitEvent(NetLine& l);
// The connection has ended (closed or reset by the far end, or failed).
bool NetLost(const NetLine& l);
// Closes the connection and frees the line.
void NetClose(NetLine* l);

// Records code as the serial layer's last error and returns false.
bool SerialFail(int code);

}  // namespace win32
