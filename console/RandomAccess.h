// The random-access endurance test (menu choice 7): the test a technician
// leaves running overnight. It draws slots so that every slot is used as
// often as any other, times each access, logs the climate every minute and
// ends with a histogram and a summary, on the screen and in a result file
// named after the store.
//
// XferMode, BlankLevel, InverseMode, BiLevel, TopLiftPosition and
// CycleCount are the endurance tests' shared options (TestSequences.h).
// XferMode reads differently here: 'N' is shovel handling, any other letter
// goes through the transfer station.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "comLib3/ShortStr.h"
#include "console/TestSequences.h"

extern char TestMode;            // 'C' carousel only, 'H' handler only, anything else both
extern uint16_t CarSelect;       // 2: left car (odd positions), 3: right car (even), else both
extern bool PlateTrace;          // only reported in the summary
extern bool NegativeAddressing;  // DM0 gets the negated cassette number
extern int32_t PrevRotPos;       // carousel position before a carousel-only move
extern uint16_t MoveDistance;    // positions travelled forward by that move
extern uint16_t ParkRotPos;      // carousel position taken between two timed accesses
extern char LastCountDownKey;    // what the last countdown of the handler-only loop returned

// From this firmware on the controller keeps a cassette look-up table:
// a negative DM0 names a cassette, and DM25 may be set per cassette.
constexpr uint16_t kLookUpTableFirmware = 7014;

// The result file of the running test; its name is empty until one is
// chosen.
extern ShortStr ResultFileName;
// Whether the exit hook that finishes a run cut short by a signal is in
// place: registered with the first result file, it stays for the program's
// life and acts only while a file is open.
extern bool ResultFileExitHook;

// The limits file given on the command line (--limits), empty for none.
// When the run's page is written, this file, or else limits.toml in the
// folder of the result files when there is one, is read (then, so that a
// file mended during the run counts) and judges the page; one line after
// the summary says the verdict. Left alone by RandomAccessInit: it is the
// program's start-up setting.
extern std::string LimitsFile;

// The archive given on the command line (--archive), empty for none. Once a
// run's page and verdict are written, its result file is imported into it
// and one more line says whether it was; the file itself is on the disk
// before, whatever the archive does. Left alone by RandomAccessInit, as
// LimitsFile.
extern std::string ArchiveFile;

// A carousel position (or cassette) that the car selection allows.
bool CarSelected(int32_t position);

// The parts of the test, in the order they run. The set-up returns false
// when the operator left it (nothing moved, no file) or the store offers
// nothing to test with the options chosen.
bool RandomAccessSetUp();
void OpenResultFile();
void RandomAccessRun();
void RandomAccessSummary();

// When a write into the result file has failed: says so on the screen,
// closes the file and lets the test go on without it.
void CheckResultFile();

// Adds one move or access of the carousel-only and handler-only loops to
// the All group's Ready series, and counts it in AccessNumber so that the
// summary's total and mean cover those modes as well.
void CountReadyTime(int32_t hundredths);

// Back to the values at program start.
void RandomAccessInit();
