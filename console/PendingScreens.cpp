// Screens that later work fills in. Until then a choice runs its connection
// bracket and comes straight back to the menu.
#include "console/Console.h"

void MonitorFlags() {}
void Macros() {}
void TeachPositionTimes() {}
void ComponentTestMenu() {}
void AllSlotsTest() {}
void RandomAccessTest() {}
void ThreePlateTest() {}
void ServiceStatistics() {}
