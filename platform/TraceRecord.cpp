#include "platform/TraceRecord.h"

#include <cstdio>

namespace trace {
namespace {

constexpr const char* kWords[] = {"HEAD", "TX",  "RX",  "OPEN",   "CLOSE", "PURGE",
                                  "LOST", "BACK", "ESC", "CHOICE", "TEST",  "RESULT"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// The names of the control bytes 0..31, then DEL.
constexpr const char* kControlNames[] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT", "LF",  "VT",  "FF", "CR", "SO", "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
constexpr const char* kDelName = "DEL";

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// A decimal number of seconds with exactly six decimals, in microseconds.
bool ParseSeconds(std::string_view text, uint64_t& us) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot > 12 || text.size() != dot + 7) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == dot) continue;
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  us = v;
  return true;
}


}  // namespace

bool ReadDigits(std::string_view text, size_t& pos, size_t n, int64_t& value) {
  if (pos + n > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += n;
  return true;
}

const char* WordName(Word w) {
  const size_t i = static_cast<size_t>(w);
  return i < kWordCount ? kWords[i] : "?";
}

bool WordFromName(std::string_view name, Word& w) {
  for (size_t i = 0; i < kWordCount; ++i)
    if (name == kWords[i]) {
      w = static_cast<Word>(i);
      return true;
    }
  return false;
}

void EscapeBytes(std::string_view bytes, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 32 || b == 127) {
      out += '<';
      out += b == 127 ? kDelName : kControlNames[b];
      out += '>';
    } else if (b > 127 || b == '<' || b == '\\') {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += ch;
    }
  }
}

bool UnescapeBytes(std::string_view text, std::string& bytes, std::string* why) {
  bytes.clear();
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b == '<') {
      const size_t end = text.find('>', i + 1);
      if (end == std::string_view::npos || end - i > 4) return Fail(why, "a '<' that opens no byte name");
      const std::string_view name = text.substr(i + 1, end - i - 1);
      int code = -1;
      if (name == kDelName) code = 127;
      for (int c = 0; c < 32 && code < 0; ++c)
        if (name == kControlNames[c]) code = c;
      if (code < 0) return Fail(why, "an unknown byte name");
      bytes += static_cast<char>(code);
      i = end + 1;
    } else if (b == '\\') {
      int hi = -1, lo = -1;
      if (i + 3 < text.size() && text[i + 1] == 'x') {
        hi = HexDigit(text[i + 2]);
        lo = HexDigit(text[i + 3]);
      }
      if (hi < 0 || lo < 0) return Fail(why, "a '\\' that is not \\xNN");
      bytes += static_cast<char>(hi * 16 + lo);
      i += 4;
    } else if (b < 32 || b >= 127) {
      return Fail(why, "a control byte or a byte above 127 in the record");
    } else {
      bytes += text[i++];
    }
    if (bytes.size() > kMaxPayload) return Fail(why, "a payload longer than a record holds");
  }
  return true;
}

std::string FormatWallClock(int64_t wallUs, int offsetMinutes) {
  if (offsetMinutes < -1439 || offsetMinutes > 1439) offsetMinutes = 0;
  const int64_t localUs = wallUs + static_cast<int64_t>(offsetMinutes) * 60'000'000;
  int64_t secs = localUs / 1'000'000;
  int64_t micro = localUs % 1'000'000;
  if (micro < 0) {
    micro += 1'000'000;
    --secs;
  }
  int64_t days = secs / 86400;
  int64_t inDay = secs % 86400;
  if (inDay < 0) {
    inDay += 86400;
    --days;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  const int off = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02d.%06lld%c%02d:%02d", static_cast<long long>(y), m, d,
                static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60),
                static_cast<long long>(micro), offsetMinutes < 0 ? '-' : '+', off / 60, off % 60);
  return buf;
}

bool ParseWallClock(std::string_view t, int64_t& wallUs, int& offsetMinutes) {
  size_t p = 0;
  int64_t y, mo, d, h, mi, s, us, oh, om;
  if (!ReadDigits(t, p, 4, y) || !Expect(t, p, '-') || !ReadDigits(t, p, 2, mo) || !Expect(t, p, '-') || !ReadDigits(t, p, 2, d) ||
      !Expect(t, p, 'T') || !ReadDigits(t, p, 2, h) || !Expect(t, p, ':') || !ReadDigits(t, p, 2, mi) || !Expect(t, p, ':') ||
      !ReadDigits(t, p, 2, s) || !Expect(t, p, '.') || !ReadDigits(t, p, 6, us))
    return false;
  if (p >= t.size() || (t[p] != '+' && t[p] != '-')) return false;
  const bool west = t[p++] == '-';
  if (!ReadDigits(t, p, 2, oh) || !Expect(t, p, ':') || !ReadDigits(t, p, 2, om) || p != t.size()) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || oh > 23 || om > 59) return false;
  offsetMinutes = static_cast<int>((oh * 60 + om) * (west ? -1 : 1));
  const int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  const int64_t local = ((days * 24 + h) * 60 + mi) * 60 + s;
  wallUs = (local - static_cast<int64_t>(offsetMinutes) * 60) * 1'000'000 + us;
  return true;
}

std::string FormatRecord(const Record& r) {
  std::string line = FormatWallClock(r.wallUs, r.offsetMinutes);
  char since[32];
  std::snprintf(since, sizeof since, " %llu.%06llu ", static_cast<unsigned long long>(r.sinceUs / 1'000'000),
                static_cast<unsigned long long>(r.sinceUs % 1'000'000));
  line += since;
  line += WordName(r.word);
  if (!r.payload.empty()) {
    line += ' ';
    EscapeBytes(std::string_view(r.payload).substr(0, kMaxPayload), line);
  }
  line += '\n';
  return line;
}

bool ParseRecord(std::string_view line, Record& r, std::string* why) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxLine) return Fail(why, "a line longer than any record");
  const size_t a = line.find(' ');
  if (a == std::string_view::npos || !ParseWallClock(line.substr(0, a), r.wallUs, r.offsetMinutes))
    return Fail(why, "no time at the start of the line");
  const size_t b = line.find(' ', a + 1);
  if (b == std::string_view::npos || !ParseSeconds(line.substr(a + 1, b - a - 1), r.sinceUs))
    return Fail(why, "no seconds since the start after the time");
  const size_t c = line.find(' ', b + 1);
  const std::string_view word = line.substr(b + 1, c == std::string_view::npos ? std::string_view::npos : c - b - 1);
  if (!WordFromName(word, r.word)) return Fail(why, "no record word after the seconds");
  if (c == std::string_view::npos) {
    r.payload.clear();
    return true;
  }
  if (c + 1 == line.size()) return Fail(why, "a blank with no payload after it");
  return UnescapeBytes(line.substr(c + 1), r.payload, why);
}

std::string HeaderPayload(const Header& h) {
  return h.program + " " + h.version + " part=" + std::to_string(h.part) + " host=" + h.host +
         " port=" + std::to_string(h.port) + " line=" + h.line + " operator=" + h.operatorName;
}

bool ParseHeader(std::string_view p, Header& h) {
  const size_t sp1 = p.find(' ');
  if (sp1 == std::string_view::npos) return false;
  const size_t sp2 = p.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos) return false;
  h.program = std::string(p.substr(0, sp1));
  h.version = std::string(p.substr(sp1 + 1, sp2 - sp1 - 1));
  // Each key once, in this order; a value runs to the next key.
  static constexpr const char* kKeys[] = {" part=", " host=", " port=", " line=", " operator="};
  size_t at[5];
  size_t from = sp2;
  for (int i = 0; i < 5; ++i) {
    at[i] = p.find(kKeys[i], from);
    if (at[i] == std::string_view::npos) return false;
    from = at[i] + std::char_traits<char>::length(kKeys[i]);
  }
  auto value = [&](int i) {
    const size_t start = at[i] + std::char_traits<char>::length(kKeys[i]);
    const size_t end = i + 1 < 5 ? at[i + 1] : p.size();
    return p.substr(start, end - start);
  };
  auto number = [](std::string_view v, int& out) {
    if (v.empty() || v.size() > 6) return false;
    out = 0;
    for (char c : v) {
      if (c < '0' || c > '9') return false;
      out = out * 10 + (c - '0');
    }
    return true;
  };
  if (!number(value(0), h.part) || !number(value(2), h.port)) return false;
  h.host = std::string(value(1));
  h.line = std::string(value(3));
  h.operatorName = std::string(value(4));
  return true;
}

std::string DefaultFolder(bool windows, const char* xdgStateHome, const char* home, const char* localAppData) {
  auto set = [](const char* v) { return v != nullptr && *v != '\0'; };
  if (windows) return set(localAppData) ? std::string(localAppData) + "\\Vekton\\trace" : std::string();
  if (set(xdgStateHome)) return std::string(xdgStateHome) + "/vekton/trace";
  if (set(home)) return std::string(home) + "/.local/state/vekton/trace";
  return {};
}

std::string FileName(int year, int month, int day, int hour, int minute, int second, long pid, int part) {
  char buf[96];
  if (part <= 1)
    std::snprintf(buf, sizeof buf, "vekton-%04d%02d%02d-%02d%02d%02d-%ld.trace", year, month, day, hour, minute,
                  second, pid);
  else
    std::snprintf(buf, sizeof buf, "vekton-%04d%02d%02d-%02d%02d%02d-%ld.%d.trace", year, month, day, hour, minute,
                  second, pid, part);
  return buf;
}

bool ParseFileName(std::string_view name, std::string& runKey, int& part) {
  constexpr std::string_view kPrefix = "vekton-", kSuffix = ".trace";
  if (name.size() < kPrefix.size() + 17 + kSuffix.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return false;
  std::string_view rest = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  // YYYYMMDD-HHMMSS-PID[.N]
  for (size_t i = 0; i < 15; ++i) {
    const char c = rest[i];
    if (i == 8 ? c != '-' : (c < '0' || c > '9')) return false;
  }
  if (rest[15] != '-') return false;
  const size_t dot = rest.find('.', 16);
  const std::string_view pid = rest.substr(16, dot == std::string_view::npos ? std::string_view::npos : dot - 16);
  if (pid.empty() || pid.size() > 10) return false;
  for (char c : pid)
    if (c < '0' || c > '9') return false;
  part = 1;
  if (dot != std::string_view::npos) {
    const std::string_view n = rest.substr(dot + 1);
    if (n.empty() || n.size() > 6 || n[0] == '0') return false;
    part = 0;
    for (char c : n) {
      if (c < '0' || c > '9') return false;
      part = part * 10 + (c - '0');
    }
    if (part < 2) return false;
  }
  runKey = std::string(name.substr(0, kPrefix.size() + 16 + pid.size()));
  return true;
}

}  // namespace trace
