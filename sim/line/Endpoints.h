// The endpoints of vekton-sim's line, one row each in Endpoints.cpp's table.
// To add one: a file here with its Make function, declared below, and its
// row in the table. Each endpoint owns its descriptors and puts them in the
// loop's wait itself (Endpoint::AddPolls).
#pragma once
#include <memory>

#include "sim/SimOptions.h"
#include "sim/line/Line.h"

namespace sim {

// Each Make function gives the endpoint the options ask for, or null when
// they ask for none; id is its number in line.owed.
std::unique_ptr<Endpoint> MakePtyEndpoint(const SimOptions& options, Line& line, int id);
std::unique_ptr<Endpoint> MakeTcpEndpoint(const SimOptions& options, Line& line, int id);

// Fills line.endpoints from the table, in its order: the order in which
// the loop watches and serves them.
void MakeEndpoints(const SimOptions& options, Line& line);

}  // namespace sim
