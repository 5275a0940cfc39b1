#include "trace/Window.h"

#include <string>

namespace trace {
namespace {

constexpr int64_t kSecond = 1'000'000;
constexpr int64_t kDay = 86400 * kSecond;

// HH:MM[:SS[.f{1,6}]] at text[pos...], up to its end or to a 'Z', '+' or '-'.
bool TimeOfDay(std::string_view text, size_t& pos, int64_t& us, int64_t& unitUs) {
  int64_t h, m, s = 0;
  if (!ReadDigits(text, pos, 2, h) || pos >= text.size() || text[pos++] != ':' || !ReadDigits(text, pos, 2, m)) return false;
  if (h > 23 || m > 59) return false;
  unitUs = 60 * kSecond;
  int64_t fraction = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadDigits(text, pos, 2, s) || s > 59) return false;
    unitUs = kSecond;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
      ++pos;
      size_t digits = 0;
      int64_t scale = kSecond;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (++digits > 6) return false;
        scale /= 10;
        fraction += (text[pos++] - '0') * scale;
      }
      if (digits == 0) return false;
      unitUs = scale;
    }
  }
  us = ((h * 60 + m) * 60 + s) * kSecond + fraction;
  return true;
}

}  // namespace

bool ParseTimeBound(std::string_view text, TimeBound& bound) {
  size_t pos = 0;
  TimeBound b;
  if (text.size() >= 3 && text[2] == ':') {
    if (!TimeOfDay(text, pos, b.us, b.unitUs) || pos != text.size()) return false;
    b.kind = TimeBound::Kind::kTimeOfDay;
    bound = b;
    return true;
  }
  // The date through the record format's own reader: the date and the time
  // with six decimals, read as if it were UTC, is the local time's count.
  if (text.size() < 11 || text[10] != 'T') return false;
  pos = 11;
  int64_t inDay = 0, unit = 0;
  if (!TimeOfDay(text, pos, inDay, unit)) return false;
  int offset = 0;
  int64_t midnight = 0;
  if (!ParseWallClock(std::string(text.substr(0, 10)) + "T00:00:00.000000+00:00", midnight, offset)) return false;
  b.us = midnight + inDay;
  b.kind = TimeBound::Kind::kLocal;
  if (pos < text.size()) {
    const std::string_view zone = text.substr(pos);
    if (zone == "Z") {
      b.kind = TimeBound::Kind::kUtc;
    } else {
      int64_t oh, om;
      size_t z = 1;
      if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !ReadDigits(zone, z, 2, oh) || zone[3] != ':' ||
          !ReadDigits(zone, ++z, 2, om) || oh > 23 || om > 59)
        return false;
      const int64_t off = (oh * 60 + om) * 60 * kSecond;
      b.us -= zone[0] == '-' ? -off : off;
      b.kind = TimeBound::Kind::kUtc;
    }
  }
  bound = b;
  return true;
}

void Window::StartRun(const Record& first) {
  const int64_t startLocal = first.wallUs + int64_t{first.offsetMinutes} * 60 * kSecond;
  // The first such time of day, to its precision, that is not before the start.
  auto resolve = [](const TimeBound& b, int64_t from) {
    if (b.kind != TimeBound::Kind::kTimeOfDay) return b;
    int64_t day = from / kDay * kDay;
    if (from < 0 && from % kDay != 0) day -= kDay;
    int64_t at = day + b.us;
    if (at + b.unitUs <= from) at += kDay;
    return TimeBound{TimeBound::Kind::kLocal, at, 1};
  };
  sinceNow = resolve(since, startLocal);
  int64_t untilFrom = startLocal;
  if (sinceNow.kind == TimeBound::Kind::kLocal) untilFrom = sinceNow.us;
  // An --until of the same time as --since means a whole day, not nothing.
  untilNow = resolve(until, untilFrom + (since.kind == TimeBound::Kind::kTimeOfDay ? until.unitUs : 0));
}

bool Window::Contains(int64_t wallUs, int offsetMinutes) const {
  auto at = [&](const TimeBound& b) {
    return b.kind == TimeBound::Kind::kUtc ? wallUs : wallUs + int64_t{offsetMinutes} * 60 * kSecond;
  };
  if (sinceNow.kind != TimeBound::Kind::kNone && sinceNow.kind != TimeBound::Kind::kTimeOfDay &&
      at(sinceNow) < sinceNow.us)
    return false;
  if (untilNow.kind != TimeBound::Kind::kNone && untilNow.kind != TimeBound::Kind::kTimeOfDay &&
      at(untilNow) >= untilNow.us)
    return false;
  return true;
}

}  // namespace trace
