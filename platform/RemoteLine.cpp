#include "platform/RemoteLine.h"

#include <cerrno>
#include <cstring>

#include "platform/Serial.h"

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool ValidPort(std::string_view p) {
  if (p.empty() || p.size() > 5) return false;
  unsigned v = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  return v >= 1 && v <= 65535;
}

// A host name or address: no blanks, no control bytes, no slash or '@' (a
// path or user part means the operator typed something else).
bool ValidHost(std::string_view h) {
  if (h.empty() || h.size() > 253) return false;
  for (char c : h) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u >= 0x7F || c == '/' || c == '@' || c == '[' || c == ']') return false;
  }
  return true;
}

}  // namespace

const char* SerialErrorText(int code) {
  switch (code) {
    case kSerialErrHostNotFound: return "host not found";
    case kSerialErrComPortRefused: return "Telnet server refuses the COM port option (no RFC 2217)";
    case kSerialErrNoTelnetAnswer: return "no answer to the COM port option";
    case kSerialErrLineRefused: return "remote line settings not confirmed";
    case kSerialErrAbandoned: return "connecting abandoned with Esc";
    case kSerialErrBadAddress: return "not tcp:// or rfc2217:// followed by HOST:PORT";
    case kSerialErrLineLost: return "the line went away (device gone, connection closed)";
    default: return nullptr;
  }
}

bool SplitHostPort(std::string_view text, std::string_view& host, std::string_view& port) {
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    return true;
  }
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  return host.find(':') == std::string_view::npos;
}

int ParseRemoteAddress(std::string_view setting, RemoteAddress& out) {
  out = RemoteAddress{};
  std::string_view rest;
  RemoteKind kind;
  if (StartsWithNoCase(setting, "tcp://")) {
    kind = RemoteKind::kTcp;
    rest = setting.substr(6);
  } else if (StartsWithNoCase(setting, "rfc2217://")) {
    kind = RemoteKind::kRfc2217;
    rest = setting.substr(10);
  } else {
    return 0;  // a device path
  }
  out.kind = kind;
  std::string_view host, port;
  if (!SplitHostPort(rest, host, port)) return kSerialErrBadAddress;
  // Brackets hold an IPv6 address and nothing else.
  if (rest.front() == '[' && host.find(':') == std::string_view::npos) return kSerialErrBadAddress;
  // A trailing slash is what a URL often ends with; anything more is a path.
  if (!port.empty() && port.back() == '/') port.remove_suffix(1);
  if (!ValidHost(host) || !ValidPort(port)) return kSerialErrBadAddress;
  out.host.assign(host);
  out.port.assign(port);
  return 0;
}

void Rfc2217LinkFeed(Rfc2217Link& l, const uint8_t* in, size_t n) {
  if (n > Rfc2217LinkRoom(l)) n = Rfc2217LinkRoom(l);  // never past the buffer
  l.dataLen += Rfc2217Receive(l.codec, in, n, l.data + l.dataLen, l.out);
}

size_t Rfc2217LinkTake(Rfc2217Link& l, uint8_t* buf, size_t n) {
  if (n > l.dataLen) n = l.dataLen;
  if (n == 0) return 0;
  std::memcpy(buf, l.data, n);
  std::memmove(l.data, l.data + n, l.dataLen - n);
  l.dataLen -= n;
  return n;
}

int Rfc2217LinkOpen(Rfc2217Link& l, Rfc2217Pump pump, void* ctx, uint64_t deadlineUs) {
  l.out.clear();
  l.dataLen = 0;
  Rfc2217Start(l.codec, l.out);
  // Every pump step waits for bytes or ends at the deadline, so this loop
  // ends by the deadline however the server behaves.
  for (;;) {
    switch (Rfc2217ComPortState(l.codec)) {
      case Rfc2217ComPort::kAgreed: return 0;
      case Rfc2217ComPort::kRefused: return kSerialErrComPortRefused;
      case Rfc2217ComPort::kPending: break;
    }
    const int err = pump(ctx, l, deadlineUs);
    if (err == ETIMEDOUT) return kSerialErrNoTelnetAnswer;
    if (err != 0) return err;
  }
}

int Rfc2217LinkSetLine(Rfc2217Link& l, const Rfc2217Line& line, Rfc2217Pump pump, void* ctx,
                       uint64_t deadlineUs) {
  if (Rfc2217ComPortState(l.codec) != Rfc2217ComPort::kAgreed) return kSerialErrComPortRefused;
  if (!Rfc2217SetLine(l.codec, line, l.out)) return EINVAL;
  for (;;) {
    if (Rfc2217ComPortState(l.codec) != Rfc2217ComPort::kAgreed) return kSerialErrComPortRefused;
    switch (Rfc2217SettingsState(l.codec)) {
      case Rfc2217Settings::kConfirmed: return 0;
      case Rfc2217Settings::kDiffers: return kSerialErrLineRefused;
      default: break;
    }
    const int err = pump(ctx, l, deadlineUs);
    if (err == ETIMEDOUT) return kSerialErrLineRefused;
    if (err != 0) return err;
  }
}
