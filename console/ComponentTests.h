// Calibration and component tests: the taught carousel move times and the
// tests of the component test menu.
#pragma once
#include <cstdint>

// Taught carousel move times in hundredths, by the number of positions
// travelled. In memory only; all zero when the program starts.
constexpr int kPosTimeEntries = 56;
extern int32_t PosTimeTable[kPosTimeEntries];

void CarrouselMovementTest();  // 1
void PlateMovementTest();      // 2
void LiftMovementTest();       // 4
void GateMovementTest();       // 5
void ShovelMovementTest();     // 6
void TurnMovementTest();       // 7
void ErrorCountersScreen();    // 8
void Smc1MovementTest();       // 9

void ComponentTestsInit();
