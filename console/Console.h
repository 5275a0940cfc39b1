// The main program: start-up, main menu loop and the screens it dispatches to.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/MenuTable.h"
#include "console/RandomAccess.h"
#include "console/TestSequences.h"

// The program's main body; returns the exit code (0 after the menu choice 0).
int VektonMain();

// Start-up dialogue and the first connection check.
void StartUp();
// The menu loop; returns when the operator chose 0.
void MainLoop();

// Screens, one per menu choice; kMainMenu below says which key runs which.
// A new screen is a file of its own, its declaration here and its row in
// kMainMenu: the menu line, the dispatch, the geometry read and the reset at
// program start all follow from the row.
//
// What a screen may rely on when it starts. The main loop calls it with no
// arguments, after it has:
// - opened ComPort with KvOpenPort and sent "CR"; neither result is tested,
//   so on a failed open or a silent controller every exchange answers empty;
// - read SerialNumber fresh from DM109 and written 0 to DM123;
// - on a row with Geometry::Read, read LevelCount, CarPosCount (never 0),
//   CarPosPerGroup (never 0, and a divisor of CarPosCount), GroupLiftOffset,
//   LevelPitch, Dm22Word, LiftBase and Relay1703Flag fresh from the
//   controller; on the other rows they hold what the last such read left
//   (0 before the first);
// - cleared EscAbort and KeyBuffer (ResetKeys), QuitRequested, LastKey (0)
//   and LogToFile.
// Set since the start-up and never changed by the loop: ComPort,
// OperatorName, DosVersionNumber and FirmwareVersion (DM108 as last read, at
// the start-up or by a screen that reads it again). MenuChoice is the key as
// typed, CommAnswer is scratch. The screen still shows the banner and the
// menu, drawn in the banner's window, with the cursor on the row below the
// "Open Comport   -> " line, in the colours the last screen left (below).
//
// What a screen must leave behind when it returns:
// - the port open: the loop sends "CQ" through it and closes it at the next
//   menu. A screen never ends the program; only the choice 0 does;
// - the colours the menu is to be drawn in, as the loop does not set them:
//   blue on light grey, the start-up's, which every screen puts back except
//   the guided macros on an older console (they leave their own);
// - its result file closed.
// The loop clears the screen and draws the banner with its window again,
// and clears EscAbort, the pending keys, QuitRequested and LastKey, so a
// screen may return with any of them set. What a screen keeps for the next
// choice (its options, the taught times) stays in its unit's globals; its
// row's init puts them back at program start.
void DirectCommands();
void MonitorFlags();
void Macros();
void TeachPositionTimes();
void ComponentTestMenu();
void AllSlotsTest();
void RandomAccessTest();
void ThreePlateTest();
void ServiceStatistics();

// Back to the values at program start for the direct command console (the
// unit's state is below).
void DirectCommandsInit();

// The choice that ends the program, at the loop end after its "CQ".
constexpr char kQuitKey = '0';

// The main menu's choices, in the order the menu shows them. A key that no
// row has runs nothing; the geometry is read for it when it comes after "3"
// in character-code order (4 to 9, the letters and the symbols between),
// as for the screens from 4 on.
inline constexpr MenuRow kMainMenu[] = {
    // {key, label, run, geometry, init, kind}
    {'1', "Direct Commands", DirectCommands, Geometry::NotRead, DirectCommandsInit},
    {'2', "Monitor Flags", MonitorFlags},
    {'3', "Macros", Macros},
    {'4', "Teach Positioning Times", TeachPositionTimes, Geometry::Read, ComponentTestsInit},
    // The menu of the component tests: each of its rows is one.
    {'5', "Component Test / Error Cntrs", ComponentTestMenu, Geometry::Read},
    {'6', "Test Sequence all Slots", AllSlotsTest, Geometry::Read, TestSequencesInit, RowKind::Test},
    {'7', "Test Sequence Random Access", RandomAccessTest, Geometry::Read, RandomAccessInit, RowKind::Test},
    {'8', "Test 3-Plate Squence", ThreePlateTest, Geometry::Read, nullptr, RowKind::Test},
    // Behind a password and not shown; "s" picks it too.
    {'S', nullptr, ServiceStatistics, Geometry::Read},
    {kQuitKey, "Quit"},
};
// A main-menu line: the label, padded to this width, then the key.
constexpr size_t kMainMenuLabelWidth = 32;

// Every unit back to its state at program start.
void InitAllUnits();

// --- shared by the console's own modules ---------------------------------------
// A DM word from a controller answer: the plain decimal conversion, held in
// 0..65535.
uint16_t AnswerWord(const ShortStr& answer);

// Direct command console: the next complete line received is the answer to a
// status poll; the stopwatch that paces the polls.
extern bool StatusPollDue;
extern TimeStamp AccessTimer[2];
