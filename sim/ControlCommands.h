// The commands of --control, one line each (see vekton-sim --help):
// fault NAME [MS], speed F, plates LAYOUT, exec LINE, quit; blank lines and
// lines starting with # are skipped.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/line/Line.h"

namespace sim {

struct ControlResult {
  bool quit = false;
  std::string say;  // for stderr: "vekton-sim: ...\n", or empty
};

// Acts on one command at nowUs: on the store, and for the vanish fault on
// the line's endpoints (gone when it comes, back when it is cleared). A bad
// command changes nothing and says why.
ControlResult ApplyControl(std::string_view raw, Line& line, uint64_t nowUs);

}  // namespace sim
