// The main program: start-up, main menu loop and the screens it dispatches to.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"
#include "comLib3/comLib3.h"

// The program's main body; returns the exit code (0 after the menu choice 0).
int VektonMain();

// Start-up dialogue and the first connection check.
void StartUp();
// The menu loop; returns when the operator chose 0.
void MainLoop();

// Screens, one per menu choice.
void DirectCommands();     // 1
void MonitorFlags();       // 2
void Macros();             // 3
void TeachPositionTimes();     // 4
void ComponentTestMenu();     // 5
void AllSlotsTest();       // 6
void RandomAccessTest();   // 7
void ThreePlateTest();     // 8
void ServiceStatistics();  // S

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
void DirectCommandsInit();
