// The sockets of a network line on Windows (platform/NetSocket.h): Winsock 2,
// non-blocking sockets, select() for the waits.
//
// Winsock 2 must come before <windows.h>, which would pull in the old one.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <climits>
#include <map>

#include "platform/NetSocket.h"
#include "platform/SerialPort.h"
#include "platform/win32/Win32Internal.h"

namespace {

// Winsock is started once, at the first network port, and left running
// for the program's life (Windows ends it with the process).
int StartWinsock() {
  static const int result = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

// getaddrinfo's failures: a name that does not resolve is ours to report,
// anything else (no memory, Winsock not working) is the system's code.
int LookupError(int rc) {
  switch (rc) {
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY:
    case WSANO_DATA:
    case WSATYPE_NOT_FOUND:
      return kSerialErrHostNotFound;
    default:
      return rc != 0 ? rc : kSerialErrHostNotFound;
  }
}

SOCKET Sock(NetSocket s) { return static_cast<SOCKET>(s); }

// The event each socket's idle wait sleeps on, made on first use.
std::map<NetSocket, WSAEVENT> gEvents;

}  // namespace

int NetConnect(const NetAddress& a, NetSocket& s) {
  s = kNoSocket;
  const SOCKET sock = socket(a.family, a.socktype, a.protocol);
  if (sock == INVALID_SOCKET) return WSAGetLastError();
  s = static_cast<NetSocket>(sock);
  // Not passed on to programs we start.
  SetHandleInformation(reinterpret_cast<HANDLE>(sock), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (ioctlsocket(sock, FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
  if (connect(sock, reinterpret_cast<const sockaddr*>(a.bytes), static_cast<int>(a.len)) == 0)
    return 0;
  const int err = WSAGetLastError();
  return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS ? kNetInProgress : err;
}

int NetConnected(NetSocket s, int ready) {
  // Writable once the connection stands, in the exception set once it
  // failed; SO_ERROR says which.
  int soErr = 0;
  int len = sizeof soErr;
  if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &len) != 0)
    return WSAGetLastError();
  if (soErr != 0) return soErr;
  if (!(ready & kSerialWritable)) return WSAECONNREFUSED;
  // The exchange writes one byte at a time: Nagle's algorithm together
  // with delayed acknowledgements would hold every command back.
  BOOL one = TRUE;
  setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  // And every segment received is acknowledged at once. A Telnet server
  // with Nagle's algorithm on (ser2net) holds the controller's answer
  // until its answer to our purge is acknowledged; Windows delays that
  // acknowledgement up to 200 ms, past the 52 ms read. (The POSIX layer
  // does the same with TCP_QUICKACK, measured there: 44 ms down to 3.)
  // Windows 10 1703 and later; elsewhere, and under Wine, the request
  // fails and nothing changes.
  DWORD ackEvery = 1, returned = 0;
  WSAIoctl(Sock(s), SIO_TCP_SET_ACK_FREQUENCY, &ackEvery, sizeof ackEvery, nullptr, 0, &returned,
           nullptr, nullptr);
  return 0;
}

long NetReceive(NetSocket s, uint8_t* buf, size_t n, int& err) {
  if (n > INT_MAX) n = INT_MAX;
  const int r = recv(Sock(s), reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
  if (r > 0) return r;
  if (r == 0) {
    err = WSAECONNRESET;
    return -1;
  }
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINTR) return 0;
  err = e;
  return -1;
}

long NetSend(NetSocket s, const uint8_t* data, size_t n, int& err) {
  if (n > INT_MAX) n = INT_MAX;
  const int r = send(Sock(s), reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
  if (r >= 0) return r;
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINTR) return 0;
  err = e;
  return -1;
}

bool NetPending(NetSocket s, uint32_t& n, int& err) {
  u_long count = 0;
  if (ioctlsocket(Sock(s), FIONREAD, &count) != 0) {
    err = WSAGetLastError();
    return false;
  }
  n = static_cast<uint32_t>(count);
  return true;
}

intptr_t NetWaitObject(NetSocket s) {
  auto it = gEvents.find(s);
  if (it == gEvents.end()) {
    const WSAEVENT ev = WSACreateEvent();
    if (ev == WSA_INVALID_EVENT) return kSerialNoWaitObject;
    // The socket is non-blocking already; the event changes nothing else.
    if (WSAEventSelect(Sock(s), ev, FD_READ | FD_CLOSE) != 0) {
      WSACloseEvent(ev);
      return kSerialNoWaitObject;
    }
    it = gEvents.emplace(s, ev).first;
  }
  WSANETWORKEVENTS seen{};
  WSAEnumNetworkEvents(Sock(s), it->second, &seen);  // resets the event
  return reinterpret_cast<intptr_t>(it->second);
}

void NetCloseSocket(NetSocket s) {
  if (s == kNoSocket) return;
  if (auto it = gEvents.find(s); it != gEvents.end()) {
    WSACloseEvent(it->second);
    gEvents.erase(it);
  }
  closesocket(Sock(s));
}

int NetLookup(const std::string& host, const std::string& port, bool numericOnly,
              std::vector<NetAddress>& out) {
  out.clear();
  if (const int err = StartWinsock(); err != 0) return err;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
  // Anything but an address is for the full lookup to judge.
  if (rc != 0) return numericOnly ? kSerialErrHostNotFound : LookupError(rc);
  for (const addrinfo* ai = res; ai; ai = ai->ai_next)
    NetAddressAdd(out, ai->ai_family, ai->ai_socktype, ai->ai_protocol, ai->ai_addr, ai->ai_addrlen);
  freeaddrinfo(res);
  return 0;
}

// On Windows only sockets are waited on this way: a comm port's driver
// times its own reads and writes.
int SerialWaitReady(intptr_t sys, int want, uint64_t deadlineUs) {
  const uint64_t now = win32::MonotonicUs();
  if (now >= deadlineUs) return 0;
  uint64_t left = deadlineUs - now;
  if (left > kSerialSliceUs) left = kSerialSliceUs;
  // Rounded up to whole milliseconds, so a read never ends early.
  const long ms = static_cast<long>((left + 999) / 1000);
  const SOCKET s = Sock(sys);
  fd_set rd, wr, ex;
  FD_ZERO(&rd);
  FD_ZERO(&wr);
  FD_ZERO(&ex);
  if (want & kSerialReadable) FD_SET(s, &rd);
  if (want & kSerialWritable) FD_SET(s, &wr);
  FD_SET(s, &ex);  // where a failed connect shows
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int n = select(0, &rd, &wr, &ex, &tv);
  if (n == SOCKET_ERROR) {
    // The socket itself is broken: let the caller's next step find out why,
    // after the slice, so no loop spins on it.
    win32::SleepMs(static_cast<uint32_t>(ms));
    return kSerialFailed;
  }
  if (n == 0) return 0;
  return (FD_ISSET(s, &rd) ? kSerialReadable : 0) | (FD_ISSET(s, &wr) ? kSerialWritable : 0) |
         (FD_ISSET(s, &ex) ? kSerialFailed : 0);
}
