#include "VKT_Lib3/Globals.h"

int32_t ComPort = 0;
ShortStr OperatorName;
int32_t SerialNumber = 0;
uint16_t FirmwareVersion = 0;
ShortStr CommAnswer;
char MenuChoice = 0;
uint16_t LevelCount = 0;
uint16_t CarPosCount = 0;
uint16_t CarPosPerGroup = 0;
uint16_t GroupLiftOffset = 0;
uint16_t LevelPitch = 0;
uint16_t Dm22Word = 0;
uint16_t LiftBase = 0;
bool Relay1703Flag = false;
uint16_t DosVersionNumber = 0;
char LastKey = 0;
int32_t WaitTime = 0;

void GlobalsInit() {
  ComPort = 0;
  OperatorName.Clear();
  SerialNumber = 0;
  FirmwareVersion = 0;
  CommAnswer.Clear();
  MenuChoice = 0;
  LevelCount = 0;
  CarPosCount = 0;
  CarPosPerGroup = 0;
  GroupLiftOffset = 0;
  LevelPitch = 0;
  Dm22Word = 0;
  LiftBase = 0;
  Relay1703Flag = false;
  DosVersionNumber = 0;
  LastKey = 0;
  WaitTime = 0;
}
