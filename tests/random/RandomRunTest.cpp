// The run of the random-access test against a scripted controller: the
// addressing by firmware, the start of the run, the car selection, and the
// handler-only and carousel-only loops.
#include <algorithm>
#include <set>

#include "RandomFixture.h"

namespace {

// The custom dialogue for the combined test: transfer key, car selection
// (only asked from 20 positions per group), silent keys, interval, inverse.
std::vector<std::string> Combined(const std::string& xfer, const std::string& negative, const std::string& inverse,
                                  const std::string& car = "") {
  std::vector<std::string> k = {"N", "B", xfer, "0\r"};
  if (!car.empty()) k.push_back(car + "\r");
  for (const std::string& s : {std::string("N"), negative, std::string("-1\r"), std::string("0\r"), inverse})
    k.push_back(s);
  return k;
}

// DM0 values written by the run after its first access (the start of the
// run always fetches the plate from 1,1).
std::vector<int> Dm0AfterStart() {
  std::vector<int> out;
  bool started = false;
  for (const std::string& line : vt::WrittenLines(1)) {
    if (IsAccessRelay(line)) started = true;
    if (started && StartsWith(line, "WR DM0 ")) out.push_back(static_cast<int16_t>(std::atoi(line.c_str() + 7)));
  }
  return out;
}

}  // namespace

TEST_F(RandomTest, AddressingFollowsTheFirmwareAndTheNegativeAddressingOption) {
  struct Case {
    uint16_t firmware;
    std::vector<std::string> keys;
    bool negative, dm25;
  };
  const std::vector<Case> cases = {
      {7013, Combined("Y", "Y", "N"), false, false},  // below 7014: the number as drawn, whatever was chosen
      {7014, {"Y", "0\r", "N"}, false, true},         // standard at 7014: native values, DM25 per cassette
      {7014, Combined("Y", "Y", "N"), true, false},   // the look-up table on request
      {7015, {"Y", "0\r", "N"}, true, false},         // standard above 7014: the look-up table
  };
  for (const Case& c : cases) {
    Fresh();
    Geometry(c.firmware, 9, 9, 5);
    EscAtAccess(7);
    Keys(c.keys);
    ASSERT_TRUE(Run()) << c.firmware;
    const auto accesses = Accesses();
    ASSERT_GE(accesses.size(), 6u) << c.firmware;
    EXPECT_EQ(accesses[0], (WireAccess{1, 1, 1905})) << c.firmware;
    for (size_t i = 1; i < accesses.size(); ++i) {
      EXPECT_EQ(accesses[i].pos < 0, c.negative) << c.firmware << " access " << i;
      EXPECT_GE(std::abs(accesses[i].pos), 1);
      EXPECT_LE(std::abs(accesses[i].pos), 9);
      EXPECT_EQ(accesses[i].relay, i % 2 ? 1904 : 1905);
    }
    // Native values with the look-up-table firmware: DM25 carries the
    // cassette's levels, written once per drawn slot, before its load.
    const auto commands = Commands();
    int dm25 = 0;
    for (size_t i = 0; i < commands.size(); ++i) {
      if (commands[i] != "WR DM25 5") continue;
      ++dm25;
      size_t j = i + 1;
      while (j < commands.size() && !IsAccessRelay(commands[j])) ++j;
      ASSERT_LT(j, commands.size());
      EXPECT_EQ(commands[j], "ST 1904");
    }
    EXPECT_EQ(dm25 > 0, c.dm25) << c.firmware;
    if (c.dm25) {
      EXPECT_GE(dm25, 3);
    }
  }
}

TEST_F(RandomTest, TheStartOfTheRunFetchesThePlateByRelays1812And1813AndTheTransferMode) {
  struct Case {
    const char* name;
    const char* relay1813;
    const char* relay1812;
    std::string xfer, inverse;
    const char* label;  // nullptr: no plate move
    int relay;
  };
  const std::vector<Case> cases = {
      {"slot, transfer", "0", "0", "Y", "N", "Unld Plate from 1,1 ", 1905},
      {"slot, shovel", "0", "0", "N", "N", "Get Plate from 1,1 ", 1908},
      {"shovel, transfer", "0", "1", "Y", "N", "Unld Plate from Shovel ", 1906},
      {"shovel, shovel", "0", "1", "N", "N", nullptr, 0},
      {"station, shovel", "1", "0", "N", "N", "Get Plate from xFerStn ", 1907},
      {"station, transfer", "1", "0", "Y", "N", nullptr, 0},
      {"inverse", "0", "0", "Y", "Y", nullptr, 0},
  };
  for (const Case& c : cases) {
    Fresh();
    relays[1813] = c.relay1813;
    relays[1812] = c.relay1812;
    std::string atFirst;
    int seen = 0;
    onLine = [&](const std::string& line) {
      if (IsAccessRelay(line) && ++seen == 1) atFirst = WholeScreen();
      if (StartsWith(line, "WR DM6 ")) vt::PushKeys("\x1b");  // after the first timed access
    };
    Keys(Combined(c.xfer, "N", c.inverse));
    ASSERT_TRUE(Run()) << c.name;
    const auto accesses = Accesses();
    ASSERT_FALSE(accesses.empty()) << c.name;
    if (c.label) {
      EXPECT_TRUE(Contains(atFirst, std::string("\n") + c.label + "  OK OK")) << c.name << "\n" << atFirst;
      EXPECT_EQ(accesses[0], (WireAccess{1, 1, c.relay})) << c.name;
      EXPECT_EQ(accesses.size(), 2u) << c.name;
    } else {
      EXPECT_EQ(accesses.size(), 1u) << c.name;
    }
    // The timed access that follows: a load, unless the cassettes are full.
    const int load = c.xfer == "N" ? 1909 : 1904, unload = c.xfer == "N" ? 1908 : 1905;
    EXPECT_EQ(accesses.back().relay, c.inverse == "Y" ? unload : load) << c.name;
    // The transfer station alone is read when it holds the plate.
    EXPECT_EQ(CountLines("RD 1812"), c.inverse == "Y" || std::string(c.relay1813) == "1" ? 0 : 1) << c.name;
  }
}

TEST_F(RandomTest, CarSelectionUsesOnlyOddOrOnlyEvenCassettesAndParkPositions) {
  for (int car : {2, 3}) {
    Fresh();
    Geometry(7000, 40, 20, 3);
    EscAtAccess(41);
    Keys(Combined("Y", "N", "N", std::to_string(car)));
    ASSERT_TRUE(Run()) << car;
    const auto accesses = Accesses();
    ASSERT_EQ(accesses.size(), 41u) << car;
    std::set<int> cassettes;
    for (size_t i = 1; i < accesses.size(); ++i) cassettes.insert(accesses[i].pos);
    const auto positions = Dm0AfterStart();  // the accesses' cassettes and the park positions
    ASSERT_GT(positions.size(), 60u) << car;
    for (int p : positions) {
      EXPECT_EQ(p % 2, car == 2 ? 1 : 0) << "car " << car << " position " << p;
      EXPECT_GE(p, 1);
      EXPECT_LE(p, 40);
    }
    EXPECT_GT(cassettes.size(), 5u) << car;
    EXPECT_GT(*cassettes.rbegin(), 20) << car;  // the second group is used as well
  }

  // The carousel-only loop draws its targets by the same rule.
  Fresh();
  Geometry(7000, 40, 20, 3);
  EscAt("WR DM0 ", 30);
  Keys({"N", "C", "3\r", "N", "N", "-1\r", "0\r", "N"});
  ASSERT_TRUE(Run());
  int moves = 0;
  for (const std::string& line : vt::WrittenLines(1)) {
    if (!StartsWith(line, "WR DM0 ")) continue;
    ++moves;
    EXPECT_EQ(std::atoi(line.c_str() + 7) % 2, 0) << line;
  }
  EXPECT_EQ(moves, 30);
}

TEST_F(RandomTest, TheHandlerOnlyLoopNeverUsesTheBlankLevelNorWritesDm0) {
  Geometry(7000, 9, 9, 5);
  std::string screen;
  int seen = 0;
  onLine = [&](const std::string& line) {
    if (!IsAccessRelay(line)) return;
    if (++seen == 60) screen = WholeScreen();
    if (seen == 61) vt::PushKeys("\x1b");
  };
  Keys({"N", "H", "Y", "4\r", "N", "N", "-1\r", "0\r", "N"});
  ASSERT_TRUE(Run());
  const auto accesses = Accesses();
  ASSERT_EQ(accesses.size(), 61u);
  EXPECT_EQ(accesses[0], (WireAccess{1, 1, 1905}));
  EXPECT_TRUE(Dm0AfterStart().empty());
  std::set<int> levels;
  for (size_t i = 1; i < accesses.size(); ++i) {
    levels.insert(accesses[i].level);
    EXPECT_EQ(accesses[i].relay, i % 2 ? 1904 : 1905) << i;
    if (i % 2 == 0) {
      EXPECT_EQ(accesses[i].level, accesses[i - 1].level) << i;  // unload where it loaded
    }
  }
  EXPECT_EQ(levels, (std::set<int>{1, 2, 3, 5}));

  // Each half prints its own line; the unload's wait has a width of three.
  EXPECT_TRUE(Contains(screen, " |AcsOK\xB3LoadOK\xB3 AcsTime ")) << screen;
  EXPECT_TRUE(Contains(screen, " |AcsOK\xB3UnLdOK\xB3 AcsTm ")) << screen;
  EXPECT_TRUE(Contains(screen, "\xB3 Wt   0/0 s")) << screen;
}

TEST_F(RandomTest, TheCarrouselOnlyLoopShowsTheDistanceAndWaitsATenthOfTheInterval) {
  Geometry(7000, 9, 9, 5);
  dm[1] = "8";
  PosTimeTable[3] = 456;
  // The controller reports the carousel where it was sent.
  std::vector<std::string> atMove;
  int moves = 0;
  // The first draw of the run: position 2, three positions on from 8.
  uint32_t seed = 0;
  for (;; ++seed) {
    RandSeed = seed;
    if (RandomRange(1, 9) == 2) break;
  }
  onLine = [&](const std::string& line) {
    if (line == "ST 1801") RandSeed = seed;
    if (!StartsWith(line, "WR DM0 ")) return;
    dm[1] = line.substr(7);
    atMove.push_back(WholeScreen());
    if (++moves == 4) vt::PushKeys("\x1b");
  };
  Keys({"N", "C", "N", "N", "-1\r", "37\r", "N"});
  ASSERT_TRUE(Run());
  ASSERT_EQ(atMove.size(), 4u);

  // The first move's line, as it stood when the second move was sent.
  const std::string first = "  1\xB3 P 2  d 3\xB3 *B ";
  const std::string screen = atMove[1];
  const size_t at = screen.find(first);
  ASSERT_NE(at, std::string::npos) << screen;
  const std::string line = screen.substr(at, screen.find('\n', at) - at);
  ASSERT_GT(line.size(), 49u) << line;
  EXPECT_EQ(line.substr(49), "B* \xB3tP 4.6  tA 0.3 \xB3Wt  3/0 s") << line;

  // A tenth of the 37 s interval between the moves, not the whole of it.
  std::vector<uint64_t> times;
  const auto lines = vt::WrittenLines(1);
  const auto stamps = vt::WrittenLineTimes(1);
  for (size_t i = 0; i < lines.size(); ++i)
    if (StartsWith(lines[i], "WR DM0 ")) times.push_back(stamps[i]);
  ASSERT_EQ(times.size(), 4u);
  for (size_t i = 1; i < 3; ++i) {
    const uint64_t gap = times[i] - times[i - 1];
    EXPECT_GT(gap, 3'000'000u) << i;
    EXPECT_LT(gap, 5'000'000u) << i;
  }

  // Three moves were timed (the fourth was quit as it was sent); the summary
  // counts and averages them, and reports the interval drawn.
  EXPECT_EQ(AccessNumber, 3);
  const auto file = vt::FileLines("1234_00.spf");
  auto has = [&](const std::string& l) { return std::find(file.begin(), file.end(), l) != file.end(); };
  EXPECT_TRUE(has("Total Accesses:            3"));
  EXPECT_TRUE(has("Access Interval [Sec]:    37"));
  EXPECT_TRUE(has("Mean Access Time:        0.3  PR  0.0"));
}

TEST_F(RandomTest, WithRandomIntervalsTheSummaryReportsTheLastDrawInSeconds) {
  EscAtAccess(9);
  Keys({"N", "B", "Y", "0\r", "N", "N", "0\r", "9\r", "N"});
  ASSERT_TRUE(Run());
  // Each access watched the carousel, which counts in tenths; the interval
  // drawn stays in seconds for the summary.
  EXPECT_GT(WaitTime, 0);
  EXPECT_LE(WaitTime, 9);
  const auto file = vt::FileLines("1234_00.spf");
  const auto line = std::find_if(file.begin(), file.end(),
                                 [](const std::string& l) { return StartsWith(l, "Access Interval [Sec]: "); });
  ASSERT_NE(line, file.end());
  EXPECT_EQ(*line, "Access Interval [Sec]:     " + std::to_string(WaitTime));
}
