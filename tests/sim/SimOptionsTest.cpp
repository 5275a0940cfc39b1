// vekton-sim's command line: every value it takes lands in its field, and a
// bad one ends the program with status 2 and one usage line.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/SimOptions.h"

namespace {

sim::OptionsOutcome Parse(std::initializer_list<const char*> args, sim::SimOptions& o) {
  std::vector<const char*> argv{"vekton-sim"};
  argv.insert(argv.end(), args);
  return sim::ParseSimOptions(static_cast<int>(argv.size()), argv.data(), o);
}

sim::OptionsOutcome Parse(std::initializer_list<const char*> args) {
  sim::SimOptions o;
  return Parse(args, o);
}

}  // namespace

TEST(SimOptions, ReadsEveryValueIntoItsField) {
  sim::SimOptions o;
  const sim::OptionsOutcome r =
      Parse({"--profile", "standard", "--speed", "2.5", "--link", "/tmp/com1", "--listen", "[::1]:0", "--trace", "t",
             "--accesses", "a", "--control", "c", "--fault", "slow:120", "--plates", "full", "--seed", "4294967295"},
            o);
  EXPECT_TRUE(r.run);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_STREQ(o.profile->name, "standard");
  EXPECT_DOUBLE_EQ(o.store.speed, 2.5);
  EXPECT_EQ(o.link, "/tmp/com1");
  EXPECT_TRUE(o.listen);
  EXPECT_EQ(o.listenHost, "::1");
  EXPECT_EQ(o.listenPort, "0");
  EXPECT_EQ(o.trace + o.accesses + o.control, "tac");
  EXPECT_EQ(o.fault, sim::Fault::Slow);
  EXPECT_EQ(o.faultMs, 120u);
  EXPECT_EQ(o.store.plates, sim::PlateLayout::Full);
  EXPECT_EQ(o.store.seed, 4294967295u);
  // A pseudo-terminal carries bytes at once.
  EXPECT_EQ(o.store.latencyUs + o.store.byteUs, 0u);

  // Every address of the host: an empty HOST, but never empty brackets.
  EXPECT_TRUE(Parse({"--listen", ":5000"}, o).run);
  EXPECT_EQ(o.listenHost, "");
  EXPECT_EQ(o.listenPort, "5000");
}

TEST(SimOptions, BadValuesAreUsageErrorsWithStatus2) {
  const std::vector<std::vector<const char*>> bad = {
      {"--seed", "abc"}, {"--seed", "-1"}, {"--seed", "4294967296"}, {"--seed", ""}, {"--seed", "1x"},
      {"--speed", "0"}, {"--speed", "fast"}, {"--speed", "1001"}, {"--fault", "slow:abc"}, {"--fault", "slow:600001"},
      {"--fault", "melt"}, {"--plates", "many"}, {"--profile", "nope"}, {"--listen", "5000"}, {"--listen", "[]:5"},
      {"--listen", "::1:5"}, {"--listen", "h:65536"}, {"--listen", "h:"}, {"--seed"}, {"--frobnicate"},
  };
  for (const auto& args : bad) {
    std::vector<const char*> argv{"vekton-sim"};
    argv.insert(argv.end(), args.begin(), args.end());
    sim::SimOptions o;
    const sim::OptionsOutcome r = sim::ParseSimOptions(static_cast<int>(argv.size()), argv.data(), o);
    const std::string what = args[0] + std::string(args.size() > 1 ? std::string(" ") + args[1] : "");
    EXPECT_FALSE(r.run) << what;
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(r.err.rfind("vekton-sim: ", 0), 0u) << what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what;
    EXPECT_EQ(r.err.back(), '\n') << what;
  }
  EXPECT_EQ(Parse({"--seed", "abc"}).err, "vekton-sim: --seed wants a number from 0 to 4294967295\n");
  EXPECT_EQ(Parse({"--seed"}).err, "vekton-sim: --seed needs a value (see --help)\n");
  // The first bad option ends the reading, before a later --help.
  EXPECT_EQ(Parse({"--speed", "0", "--help"}).status, 2);
}

TEST(SimOptions, HelpVersionAndProfilesEndWithStatus0) {
  const sim::OptionsOutcome help = Parse({"--seed", "7", "-h", "--seed", "abc"});
  EXPECT_FALSE(help.run);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vekton-sim [options]\n", 0), 0u);
  const std::string tail = "\nProfiles:\n" + sim::ProfileList();
  EXPECT_EQ(help.out.substr(help.out.size() - tail.size()), tail);
  EXPECT_EQ(Parse({"--version"}).out, "vekton-sim " VEKTON_VERSION "\n");
  EXPECT_EQ(Parse({"--list-profiles"}).out, sim::ProfileList());
  EXPECT_EQ(sim::ProfileList().rfind("standard   serial 1234: ", 0), 0u);
}
