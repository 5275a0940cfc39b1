#include "sim/line/Line.h"

#include <algorithm>
#include <cstdio>

namespace sim {

void Hear(Line& line, int endpoint, uint32_t session, std::string& gathered, const unsigned char* bytes, size_t n,
          uint64_t nowUs) {
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != '\r') {
      if (gathered.size() < kKeepLine) gathered.push_back(static_cast<char>(bytes[i]));
      continue;
    }
    line.pieces.clear();
    for (char c : gathered) line.store.Receive(static_cast<uint8_t>(c), nowUs, line.pieces);
    gathered.clear();
    if (line.store.Receive('\r', nowUs, line.pieces)) line.trace.Event(nowUs, "RX", line.store.LastLine() + "\r");
    line.owed.Push(line.pieces, endpoint, session);
  }
}

void SendDue(Line& line, uint64_t nowUs) {
  Owed answer;
  while (line.owed.PopDue(nowUs, answer)) {
    line.trace.Event(nowUs, "TX", answer.bytes);
    if (answer.endpoint >= 0 && static_cast<size_t>(answer.endpoint) < line.endpoints.size()) {
      line.endpoints[static_cast<size_t>(answer.endpoint)]->Deliver(answer, nowUs);
    }
  }
  for (auto& e : line.endpoints) e->AfterSend(nowUs);
}

uint64_t WaitUs(const Line& line, uint64_t nowUs, uint64_t maxUs) {
  uint64_t wait = maxUs;
  const uint64_t answer = line.owed.NextUs();
  if (answer != UINT64_MAX) wait = std::min(wait, answer > nowUs ? answer - nowUs : 0);
  const uint64_t next = line.store.NextEventUs();
  if (next != UINT64_MAX) wait = std::min(wait, next > nowUs ? next - nowUs : 0);
  for (const auto& e : line.endpoints) wait = std::min(wait, e->PauseUs(nowUs));
  return wait;
}

bool ReserveEndpoints(Line& line, bool vanished) {
  for (auto& e : line.endpoints) {
    std::string why;
    if (!e->Reserve(vanished, why)) {
      std::fprintf(stderr, "vekton-sim: %s\n", why.c_str());
      return false;
    }
  }
  return true;
}

bool OpenEndpoints(Line& line, bool vanished) {
  for (auto e = line.endpoints.rbegin(); e != line.endpoints.rend(); ++e) {
    if (!(*e)->Open(vanished)) return false;
  }
  return true;
}

void VanishEndpoints(Line& line, uint64_t nowUs) {
  for (auto& e : line.endpoints) e->Vanish(nowUs);
}

void ReturnEndpoints(Line& line) {
  for (auto& e : line.endpoints) e->Return();
}

void CloseEndpoints(Line& line, uint64_t nowUs) {
  for (auto& e : line.endpoints) e->Close(nowUs);
}

}  // namespace sim
