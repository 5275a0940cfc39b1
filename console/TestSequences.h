// State shared by the endurance tests (all slots, random access, three
// plates): the options the operator chose, the pass counter and the store's
// derived geometry. They live for the whole run, as the tests keep their
// options from one choice to the next.
#pragma once
#include <cstdint>
#include <string_view>

extern uint16_t TopLiftPosition;  // lift value of the top level
extern bool BiLevel;              // more carousel positions than the first group holds
extern char XferMode;             // 'Y': through the transfer station
extern char InverseMode;          // 'Y': filled cassettes, each access unloads first
extern char QuickMode;            // 'Y': only the lowest and the top level
extern char Answer;               // the answer to the first set-up question
extern int32_t StartLevel;
extern int32_t StartSlot;
extern uint16_t BlankLevel;       // 0 = none
extern bool FirstPass;
extern int32_t CycleCount;

// Cassettes at or above this firmware publish their own level counts
// (DM251 on) and are addressed by negative DM0 values.
constexpr uint16_t kCassetteLevelFirmware = 7104;

// Builds SlotTable from the geometry: cassettes 1..CarPosCount, each with
// LevelCount levels, or with its own count from DM250 + c on newer firmware
// (printed as a list). A store larger than the table is cut to the table's
// 40 cassettes of 100 levels, and the screen says so.
void FillSlotTable();

// Shows the plate count and the top level's lift value, and derives
// BiLevel and TopLiftPosition from the geometry.
void ShowGeometry();

// A test that cannot run says why and waits for a key before the menu
// comes back (which would clear the message at once).
void RefuseTest(std::string_view why);

// Back to the values at program start.
void TestSequencesInit();
