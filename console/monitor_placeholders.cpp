// Placeholders so that the program links before the live monitors exist: the keys f, u and
// U do nothing yet. Delete this file when the monitors' own file is added.
#include "commands.h"

void CounterMonitor() {}
void UptimeReadout() {}
void UptimeMonitor() {}
void PrintUptime(double, uint8_t) {}
