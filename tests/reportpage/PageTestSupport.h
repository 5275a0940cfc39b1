// Runs built by hand for the page and table tests, and a reader of the SVG
// path data the page writes, so a test can check where a line really goes.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "report/PageParts.h"
#include "report/ResultFile.h"

namespace pagetest {

inline report::Stamp At(int year, int month, int day, int hour, int minute, int second) {
  report::Stamp s;
  s.valid = true;
  s.year = year, s.month = month, s.day = day, s.hour = hour, s.minute = minute, s.second = second;
  return s;
}

inline report::Header MakeHeader(int line, const std::string& title, report::Stamp stamp) {
  report::Header h;
  h.line = line;
  h.title = title;
  h.stamp = stamp;
  h.operatorName = "Default User";
  h.serial = 1234;
  h.firmware = "7.1.20";
  return h;
}

inline void SetTime(report::TimeFigure& f, double ready, double plate) {
  f.present = true;
  f.ready = ready;
  f.plateReady = plate;
}

// A complete run as the console writes one: `minutes` climate lines, a
// histogram around 5 s and a summary with every group measured.
inline report::Run CompleteRun(const std::string& file, report::Stamp start, int minutes = 30) {
  using namespace report;
  Run r;
  r.file = file;
  r.headers.push_back(MakeHeader(1, "System Data Summary", start));
  r.headers.push_back(MakeHeader(11, "Climate Logging Data (Interal = 60s", start));
  for (int i = 0; i < minutes; ++i) {
    ClimateReading c;
    c.line = 21 + i;
    c.temperature = 37.0 + 0.1 * (i % 3);
    c.humidity = 92.0 - 0.1 * (i % 5);
    c.co2 = 5.0;
    c.opt = 21;
    r.climate.push_back(c);
  }
  const int statsLine = 21 + minutes + 1;
  Stamp end = start;
  end.minute += minutes % 60;
  end.hour += minutes / 60;
  if (end.minute >= 60) end.minute -= 60, end.hour += 1;
  end.day += end.hour / 24, end.hour %= 24;  // no run here passes a month's end
  r.headers.push_back(MakeHeader(statsLine, "Handling Times Statistics", end));
  const uint32_t ready[] = {0, 0, 0, 40, 0, 60, 0, 11};
  const uint32_t plate[] = {30, 5, 20, 40, 10, 6, 0, 0};
  int total = 0;
  for (int i = 0; i < 8; ++i) {
    HistogramRow h;
    h.line = statsLine + 11 + i;
    h.bin = 5 + i;
    h.ready[kAll] = ready[i];
    h.plateReady[kAll] = plate[i];
    total += static_cast<int>(ready[i]);
    r.histogram.push_back(h);
  }
  r.headers.push_back(MakeHeader(statsLine + 21, "Complete Test Summary", end));
  Summary& s = r.summary;
  s.access = "Including Gate Cycle";
  s.cassettes = "One-Plate Non-Inverted Test Mode";
  s.plateTrace = "Actived";
  s.addressing = "Cassettes Look-Up Table";
  s.cassetteLevels = "Single Level";
  s.procedure = "Fast";
  s.totalAccesses = total;
  s.intervalSeconds = 2;
  s.carPosErrors = 0;
  for (int g = 0; g < 3; ++g) {
    SetTime(s.minimum[g], 4.2, 1.9);
    SetTime(s.maximum[g], 7.3, 5.8);
    SetTime(s.mean[g], 5.9, 3.6);
  }
  s.complete = true;
  r.complete = true;
  return r;
}

// What the console's summary shows for a group that counted nothing.
inline void Unmeasured(report::Summary& s, report::Group g, double sum) {
  SetTime(s.minimum[g], report::kNoMinimum, report::kNoMinimum);
  SetTime(s.maximum[g], 0.0, 0.0);
  SetTime(s.mean[g], sum, sum);
}

inline size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
  return n;
}

// The <svg> elements of a page, in order.
inline std::vector<std::string> Svgs(const std::string& page) {
  std::vector<std::string> out;
  for (size_t at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 4)) {
    const size_t end = page.find("</svg>", at);
    if (end == std::string::npos) break;
    out.push_back(page.substr(at, end + 6 - at));
  }
  return out;
}

// The d attributes of the paths in an element that carry `marker` (e.g.
// class="line").
inline std::vector<std::string> PathsOf(const std::string& svg, const std::string& marker) {
  std::vector<std::string> out;
  for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 5)) {
    const size_t end = svg.find("/>", at);
    const std::string tag = svg.substr(at, end - at);
    if (tag.find(marker) == std::string::npos) continue;
    const size_t d = tag.find(" d=\"");
    if (d == std::string::npos) continue;
    out.push_back(tag.substr(d + 4, tag.find('"', d + 4) - d - 4));
  }
  return out;
}

struct Pt {
  double x, y;
};

// The vertices of SVG path data (M m L l H h V v Z z, as the page writes
// them), in absolute coordinates, one list a subpath. Fails the test on
// anything else.
inline std::vector<std::vector<Pt>> Vertices(const std::string& d) {
  std::vector<std::vector<Pt>> paths;
  size_t i = 0;
  double x = 0, y = 0, sx = 0, sy = 0;
  char cmd = 0;
  bool closed = false;  // after z, a line starts a new subpath where the last began
  const auto number = [&](double& v) {
    while (i < d.size() && (d[i] == ' ' || d[i] == ',')) ++i;
    const size_t start = i;
    if (i < d.size() && d[i] == '-') ++i;
    while (i < d.size() && std::isdigit(static_cast<unsigned char>(d[i]))) ++i;
    if (i < d.size() && d[i] == '.') {
      ++i;
      while (i < d.size() && std::isdigit(static_cast<unsigned char>(d[i]))) ++i;
    }
    if (i == start) return false;
    v = std::strtod(d.substr(start, i - start).c_str(), nullptr);
    return true;
  };
  while (i < d.size()) {
    while (i < d.size() && d[i] == ' ') ++i;
    if (i >= d.size()) break;
    if (std::isalpha(static_cast<unsigned char>(d[i]))) cmd = d[i++];
    double a = 0, b = 0;
    if (closed && cmd != 'M' && cmd != 'm' && cmd != 'Z' && cmd != 'z') paths.push_back({{sx, sy}});
    closed = false;
    switch (cmd) {
      case 'M':
      case 'm':
      case 'L':
      case 'l': {
        if (!number(a) || !number(b)) {
          ADD_FAILURE() << "bad numbers at " << i << " in " << d;
          return paths;
        }
        const bool rel = cmd == 'm' || cmd == 'l';
        x = rel ? x + a : a, y = rel ? y + b : b;
        if (cmd == 'M' || cmd == 'm') {
          paths.emplace_back();
          sx = x, sy = y;
          cmd = cmd == 'M' ? 'L' : 'l';  // further pairs are lines
        }
        paths.back().push_back({x, y});
        break;
      }
      case 'H':
      case 'h':
      case 'V':
      case 'v':
        if (!number(a)) {
          ADD_FAILURE() << "bad number at " << i << " in " << d;
          return paths;
        }
        if (cmd == 'H') x = a;
        if (cmd == 'h') x += a;
        if (cmd == 'V') y = a;
        if (cmd == 'v') y += a;
        paths.back().push_back({x, y});
        break;
      case 'Z':
      case 'z':
        x = sx, y = sy;
        closed = true;
        break;
      default:
        ADD_FAILURE() << "unexpected command " << cmd << " in " << d;
        return paths;
    }
  }
  return paths;
}

}  // namespace pagetest
