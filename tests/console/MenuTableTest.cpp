// The menu tables themselves: what a row added to them could get wrong
// without any screen's own test noticing.
#include <set>
#include <span>
#include <string>

#include "tests/console/ConsoleFixture.h"

namespace {

// A key that appears twice leaves its second row unreachable; a lower-case
// key is never picked, as the choice is upper-cased first; a label as wide as
// its field runs into the key.
void ExpectPickableRows(std::span<const MenuRow> rows, size_t width, const char* menu) {
  std::set<char> keys;
  for (const MenuRow& row : rows) {
    EXPECT_TRUE(keys.insert(row.key).second) << menu << ": key " << row.key << " twice";
    EXPECT_EQ(UpCase(row.key), row.key) << menu << ": key " << row.key;
    if (row.label != nullptr) {
      EXPECT_LT(std::string(row.label).size(), width) << menu << ": " << row.label;
    }
  }
}

}  // namespace

TEST_F(ConsoleTest, MenuTablesHaveOneUpperCaseKeyPerRowAndTheMenuShowsEachLabelledRow) {
  ExpectPickableRows(kMainMenu, kMainMenuLabelWidth, "main menu");
  ExpectPickableRows(kComponentMenu, kComponentMenuLabelWidth, "component test menu");

  Script({"1\r", "\r", "0\r"});
  ASSERT_EQ(RunProgram(), 0);
  ASSERT_EQ(screens.size(), 3u);
  size_t at = 0;
  for (const MenuRow& row : kMainMenu) {
    if (row.label == nullptr) continue;
    const std::string line = MenuLine(row, kMainMenuLabelWidth).str();
    at = screens[2].find(line, at);
    ASSERT_NE(at, std::string::npos) << "not shown in the table's order: " << line;
  }
}

TEST_F(ConsoleTest, InitAllUnitsResetsTheStateEachScreenKeepsBetweenChoices) {
  StatusPollDue = true;
  PosTimeTable[3] = 42;
  StartLevel = 7;
  TestMode = 'C';
  InitAllUnits();
  EXPECT_FALSE(StatusPollDue);
  EXPECT_EQ(PosTimeTable[3], 0);
  EXPECT_EQ(StartLevel, 1);
  EXPECT_EQ(TestMode, 'B');
}
