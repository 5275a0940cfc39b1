#include "sim/ControlCommands.h"

#include <cstdlib>

#include "sim/SimOptions.h"

namespace sim {
namespace {

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

ControlResult Say(const std::string& text) { return {false, "vekton-sim: " + text + "\n"}; }

// A command's text as a C string shows it: up to a NUL byte that came in it.
std::string Shown(const std::string& s) { return s.substr(0, s.find('\0')); }

ControlResult SwitchFault(const std::string& rest, Line& line, uint64_t now) {
  std::string name = rest;
  const size_t sp = rest.find(' ');
  if (sp != std::string::npos) name = rest.substr(0, sp) + ":" + Trim(rest.substr(sp + 1));
  Fault f;
  uint32_t ms = 0;
  if (!ParseFaultArg(name, f, ms)) return Say("unknown fault \"" + Shown(rest) + "\"");
  Store& store = line.store;
  const bool wasGone = store.fault() == Fault::Vanish;
  store.AdvanceTo(now);
  store.SetFault(f, ms);
  if (f == Fault::Vanish && !wasGone) VanishEndpoints(line, now);
  if (f != Fault::Vanish && wasGone) ReturnEndpoints(line);
  return Say(std::string("fault ") + FaultName(f));
}

}  // namespace

ControlResult ApplyControl(std::string_view raw, Line& line, uint64_t now) {
  const std::string text = Trim(raw);
  if (text.empty() || text[0] == '#') return {};
  const size_t blank = text.find(' ');
  const std::string word = text.substr(0, blank);
  const std::string rest = blank == std::string::npos ? "" : Trim(text.substr(blank + 1));
  Store& store = line.store;
  if (word == "quit") return {true, {}};
  if (word == "fault") return SwitchFault(rest, line, now);
  if (word == "speed") {
    char* end = nullptr;
    const double f = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !(f > 0)) return Say("bad speed \"" + Shown(rest) + "\"");
    store.AdvanceTo(now);
    store.SetSpeed(f);
    return {};
  }
  if (word == "plates") {
    PlateLayout p;
    if (!ParsePlateLayout(rest, p)) return Say("unknown plate layout \"" + Shown(rest) + "\"");
    store.AdvanceTo(now);
    store.SetPlates(p);
    return {};
  }
  if (word == "exec") {
    const std::string answer = store.Execute(rest.substr(0, kMaxLine + 1), now);
    return Say(Shown(rest) + " -> " + Shown(answer));
  }
  return Say("unknown control command \"" + Shown(text) + "\"");
}

}  // namespace sim
