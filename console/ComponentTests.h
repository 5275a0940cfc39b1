// Calibration and component tests: the taught carousel move times and the
// tests of the component test menu.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/MenuTable.h"

// Taught carousel move times in hundredths, by the number of positions
// travelled. In memory only; all zero when the program starts.
constexpr int kPosTimeEntries = 56;
extern int32_t PosTimeTable[kPosTimeEntries];

// The tests of the component test menu. Each starts with QuitRequested
// cleared; after it returns the menu writes 0 to DM123 (the component-test
// enable) and shows itself again.
void CarrouselMovementTest();
void PlateMovementTest();
void LiftMovementTest();
void GateMovementTest();
void ShovelMovementTest();
void TurnMovementTest();
void ErrorCountersScreen();
void Smc1MovementTest();

// The component test menu's choices, in the order it shows them; Esc leaves
// the menu, any other key shows it again. Every row that runs something is
// a test, on the line's trace by its label. The rows name no geometry and no
// init: the main menu's choice 5 has read the geometry before this menu
// opens, and the taught times the tests read are reset with the main menu's
// row 4.
inline constexpr MenuRow kComponentMenu[] = {
    // {key, label, run}
    {'1', "Carrousel Movement", CarrouselMovementTest},
    {'2', "Plate Movement", PlateMovementTest},
    {'3', "Stack Movement"},  // the stack has no test
    {'4', "Lift Movement", LiftMovementTest},
    {'5', "Gate Movement", GateMovementTest},
    {'6', "Shovel Movement", ShovelMovementTest},
    {'7', "Turn Movement", TurnMovementTest},
    {'8', "Error Counters", ErrorCountersScreen},
    {'9', "SMC 1 Movement", Smc1MovementTest},
};
// A component menu line: the label, padded to this width, then the key.
constexpr size_t kComponentMenuLabelWidth = 20;

void ComponentTestsInit();
