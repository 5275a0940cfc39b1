// The sockets of a network line on POSIX (platform/NetSocket.h): BSD
// sockets, non-blocking, never a SIGPIPE.
#include "platform/NetSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SerialPort.h"

namespace {

int LookupError(int rc, int sysErr) {
  switch (rc) {
    case EAI_SYSTEM: return sysErr != 0 ? sysErr : kSerialErrHostNotFound;
    case EAI_MEMORY: return ENOMEM;
    default: return kSerialErrHostNotFound;  // no such name, no address, no answer
  }
}

}  // namespace

int NetLookup(const std::string& host, const std::string& port, bool numericOnly,
              std::vector<NetAddress>& out) {
  out.clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
  const int sysErr = errno;
  if (rc != 0) return LookupError(rc, sysErr);
  for (const addrinfo* ai = res; ai; ai = ai->ai_next)
    NetAddressAdd(out, ai->ai_family, ai->ai_socktype, ai->ai_protocol, ai->ai_addr, ai->ai_addrlen);
  freeaddrinfo(res);
  return 0;
}

int NetConnect(const NetAddress& a, NetSocket& s) {
  s = kNoSocket;
  const int fd = socket(a.family, a.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol);
  if (fd < 0) return errno;
  s = fd;
  if (connect(fd, reinterpret_cast<const sockaddr*>(a.bytes), a.len) == 0) return 0;
  return errno == EINPROGRESS || errno == EINTR ? kNetInProgress : errno;
}

int NetConnected(NetSocket s, int /*ready*/) {
  const int fd = static_cast<int>(s);
  // Writable once the connection stands or has failed; SO_ERROR says which.
  int soErr = 0;
  socklen_t len = sizeof soErr;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0) return errno;
  if (soErr != 0) return soErr;
  // The exchange writes one byte at a time: Nagle's algorithm together
  // with delayed acknowledgements would hold every command back.
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return 0;
}

long NetReceive(NetSocket s, uint8_t* buf, size_t n, int& err) {
  const int fd = static_cast<int>(s);
  const ssize_t r = recv(fd, buf, n, MSG_DONTWAIT);
  if (r > 0) {
    // What came is acknowledged at once, not up to 40 ms later. A Telnet
    // server with Nagle's algorithm on (ser2net) answers the purge that
    // opens every exchange, then holds the controller's answer back until
    // that purge answer is acknowledged: with delayed acknowledgements the
    // answer would come some 44 ms after the command, 8 ms short of the read
    // time-out; acknowledged at once, it comes after some 3 ms
    // (bench/exchange_bench). The kernel drops the mode again by itself, so
    // it is asked for after every receive.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    return static_cast<long>(r);
  }
  if (r == 0) {
    err = ECONNRESET;
    return -1;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  err = errno;
  return -1;
}

long NetSend(NetSocket s, const uint8_t* data, size_t n, int& err) {
  // Never SIGPIPE: a closed connection is an error code like any other.
  const ssize_t r = send(static_cast<int>(s), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (r >= 0) return static_cast<long>(r);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  err = errno;
  return -1;
}

bool NetPending(NetSocket s, uint32_t& n, int& err) {
  int count = 0;
  if (ioctl(static_cast<int>(s), FIONREAD, &count) != 0) {
    err = errno;
    return false;
  }
  n = count > 0 ? static_cast<uint32_t>(count) : 0;
  return true;
}

intptr_t NetWaitObject(NetSocket s) { return s; }

void NetCloseSocket(NetSocket s) {
  if (s != kNoSocket) close(static_cast<int>(s));
}
