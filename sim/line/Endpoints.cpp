#include "sim/line/Endpoints.h"

namespace sim {
namespace {

struct EndpointRow {
  const char* name;
  std::unique_ptr<Endpoint> (*make)(const SimOptions& options, Line& line, int id);
};

// The pseudo-terminal first: each turn serves it before the TCP client.
const EndpointRow kEndpoints[] = {
    {"pty", MakePtyEndpoint},
    {"tcp", MakeTcpEndpoint},
};

}  // namespace

void MakeEndpoints(const SimOptions& options, Line& line) {
  for (const EndpointRow& row : kEndpoints) {
    std::unique_ptr<Endpoint> e = row.make(options, line, static_cast<int>(line.endpoints.size()));
    if (e) line.endpoints.push_back(std::move(e));
  }
}

}  // namespace sim
