// The commands of the QVX-3-Test command loop, one function per key (the dispatch table
// lives with the loop). Every command prints its results on standard output and reports a
// failed operation through Failed(); none keeps anything for a later command except what
// the monitors carry over by design.
#ifndef QVX3_CONSOLE_COMMANDS_H
#define QVX3_CONSOLE_COMMANDS_H

#include <cstdint>

// Runs the key-driven loop until Esc (or the end of the input).
void CommandLoop();

// Information and slot commands.
void PrintHelp();           // ?
void ReadSlot();            // o
void SetSlot();             // O
void ScanBus();             // q Q
void ShowFirmwareDate();    // d D
void ShowFirmwareVersion(); // v V
void ShowProductId();       // p P
void ShowProductNumber();   // n N
void ShowHousekeeping();    // k K
void ShowClocks();          // c C

// Channel setting commands. AskChannel prompts for the channel; on false the command ends.
bool AskChannel(uint8_t &channel);
void ReadAmplification(); // a
void SetAmplification();  // A
void ReadPolarity();      // s
void SetPolarity();       // S
void ReadLowPass();       // l
void SetLowPass();        // L
void ReadHighPass();      // h
void SetHighPass();       // H
void ReadThreshold();     // t
void SetThreshold();      // T
void ReadDuration();      // m
void SetDuration();       // M

// Live monitors and the uptime readout. A monitor rewrites one line in place until Esc or
// the end of the input, then ends the line with "\n"; every other key is dropped. A failed
// query is reported as Failed() reports it and the monitor goes on, its whole line drawn
// afresh below the report (as also after a resize or a resume); a failure that repeats the
// cycle before is counted instead of reported again.
void CounterMonitor(); // f
void UptimeReadout();  // u
void UptimeMonitor();  // U

// Writes a time in seconds as h:mm:ss.hh, m:ss.hh or s.hhs (hours not split into days),
// rounded to the nearest hundredth, halves up: to the console window at the cursor without a
// line end when `toConsole` is non-zero, else to standard output with one. A negative or NaN
// time is shown as 0.00s; a time above 4294967295.99 s (or infinite) as that time.
void PrintUptime(double seconds, uint8_t toConsole);

#endif // QVX3_CONSOLE_COMMANDS_H
