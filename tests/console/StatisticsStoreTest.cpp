// The service statistics against the simulated store: the whole program on
// the virtual platform, menu choice S and the password, and the screen shows
// the store's own lifetime figures, counters above 65535 among them.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Harness.h"
#include "tests/console/ConsoleFixture.h"

namespace {

std::string Figure(const char* label, long long value, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%*lld", label, width, value);
  return text;
}

TEST_F(ConsoleTest, ServiceStatisticsShowTheStoresTrueFigures) {
  sim::StorePeer store;  // the standard profile
  vt::AttachPort(1, &store);
  const sim::Profile& p = store.store().profile();
  ASSERT_GT(p.gateCycles, 65535u);
  ASSERT_GT(p.onSeconds, 65535u);

  std::string figures;
  onStep = [&](size_t n) {
    if (n == 4) figures = Screen();  // the figures wait for their key
  };
  Script({"1\r", "\r", "s\r", "qzrb\r", " ", "0\r"});
  EXPECT_EQ(RunProgram(), 0);
  ASSERT_FALSE(figures.empty());

  // Read at the moment the console asked: the store has run for a few
  // seconds of wire time since power-on, standing still (no on time, no
  // gate cycles of its own).
  const uint64_t seconds = store.store().NowUs() / 1000000;
  const long long total = static_cast<long long>(p.hours) * 3600 + static_cast<long long>(seconds);
  EXPECT_NE(figures.find(Figure("System Hobs [hours]   ", p.hours, 5)), std::string::npos) << figures;
  EXPECT_NE(figures.find(Figure("Total Gate Cycles     ", p.gateCycles, 5)), std::string::npos) << figures;
  EXPECT_NE(figures.find(Figure("On Time [s]        ", p.onSeconds, 8)), std::string::npos) << figures;
  char line[64];
  std::snprintf(line, sizeof line, "Avrg Acs/hour         %5.1f", static_cast<double>(p.gateCycles) / p.hours);
  EXPECT_NE(figures.find(line), std::string::npos) << figures;
  std::snprintf(line, sizeof line, "On Percent. [%%]       %5.1f",
                static_cast<double>(p.onSeconds) / static_cast<double>(total) * 100.0);
  EXPECT_NE(figures.find(line), std::string::npos) << figures;
}

}  // namespace
