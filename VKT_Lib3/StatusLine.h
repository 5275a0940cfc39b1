// The status line on row 1, the climate logging that rides on it, and every
// wait on the store's Ready state.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"
#include "comLib3/comLib3.h"

extern bool ReadyFlag;
extern uint16_t SysStat;
extern uint16_t StatusPollPhase;
extern TimeStamp StatusTimer[2];
extern bool QuitRequested;
extern TimeStamp ClimateTimer[2];
extern uint16_t ClimatePhase;
extern double ClimateTemp, ClimateHumidity, ClimateCO2, ClimateOpt;
extern ShortStr ClimateText[4];
extern uint16_t LastRotPos;

bool DrawStatusLine();
void UpdateStatusLine();
// Draws the status row from the current SysStat, ReadyFlag and phase.
void PaintStatusLine();
void ClearWorkArea();
bool CheckQuit(int port);
void WaitReady(int port);
void WaitRelayOn(int port, int32_t relay);
void WaitReadyRelay(int port);
void WaitPlateReady(int port);
char CountDown(int port, int32_t seconds);

void StatusLineInit();
