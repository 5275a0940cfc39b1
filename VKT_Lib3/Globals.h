// Start-up globals: set by the start-up and the main menu, read by every screen.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"

extern int32_t ComPort;
extern ShortStr OperatorName;
extern int32_t SerialNumber;       // DM109
extern uint16_t FirmwareVersion;   // DM108
extern ShortStr CommAnswer;
extern char MenuChoice;
extern uint16_t LevelCount;        // DM25
extern uint16_t CarPosCount;       // DM29, a 0 read as 9
extern uint16_t CarPosPerGroup;    // DM46, a divisor of CarPosCount
extern uint16_t GroupLiftOffset;   // DM47
extern uint16_t LevelPitch;        // DM23
extern uint16_t Dm22Word;          // DM22
extern uint16_t LiftBase;          // DM20
extern bool Relay1703Flag;         // relay 1703
extern uint16_t DosVersionNumber;
extern char LastKey;               // the last key a screen read for its own control flow
extern int32_t WaitTime;           // wait after a timed access; general numeric entry

// Back to the values at program start.
void GlobalsInit();
