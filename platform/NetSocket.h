// The sockets under a network line (NetLine.cpp), one small layer per
// system (posix/NetSocket.cpp, win32/NetSocket.cpp): name lookup, connecting,
// the non-blocking byte steps, the count of what waits, and closing. Waiting
// on a socket is the system's SerialWaitReady. Codes are the system's own
// (errno, Winsock), or Serial.h's.
// Nothing outside platform/ includes this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

// One address to connect to, as the system's lookup gave it.
struct NetAddress {
  int family = 0;
  int socktype = 0;
  int protocol = 0;
  uint32_t len = 0;
  alignas(8) uint8_t bytes[128] = {};  // the socket address, len bytes of it
};

// Appends one address the lookup found (one longer than NetAddress holds is
// left out).
void NetAddressAdd(std::vector<NetAddress>& out, int family, int socktype, int protocol,
                   const void* address, size_t len);

// Looks host and port (decimal) up, for a TCP connection. With numericOnly
// only an address is read, which never blocks. 0 and the addresses;
// kSerialErrHostNotFound when the name does not resolve (with numericOnly:
// host is no address); else the system's code. The first call also starts
// the system's sockets where they need starting. Safe on any thread.
int NetLookup(const std::string& host, const std::string& port, bool numericOnly,
              std::vector<NetAddress>& out);

// A connection begun and not yet made: wait until the socket is writable or
// failed, then ask NetConnected.
constexpr int kNetInProgress = -1;

// Makes a non-blocking socket for a (not inherited by programs we start) and
// begins connecting. 0 connected; kNetInProgress; or the code, with s
// kNoSocket when there is no socket to close.
int NetConnect(const NetAddress& a, NetSocket& s);
// After connecting (ready: what the wait saw): 0 when the connection stands,
// set up for the exchange (Nagle off, every segment acknowledged at once
// where the system can), or the code the connection failed with.
int NetConnected(NetSocket s, int ready);

// One non-blocking receive: > 0 bytes, 0 none now, -1 with err (a close by
// the peer reads as a connection reset). What came is acknowledged at once.
long NetReceive(NetSocket s, uint8_t* buf, size_t n, int& err);
// One non-blocking send (never a signal): > 0 bytes taken, 0 no room now,
// -1 with err.
long NetSend(NetSocket s, const uint8_t* data, size_t n, int& err);
// Bytes received and not read yet; false with err when the socket cannot say.
bool NetPending(NetSocket s, uint32_t& n, int& err);
// What the program's idle wait sleeps on for s (made on first use, reset
// before each sleep), or kSerialNoWaitObject.
intptr_t NetWaitObject(NetSocket s);
void NetCloseSocket(NetSocket s);
