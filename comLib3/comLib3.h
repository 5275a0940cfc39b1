// Serial port link, keyboard, timing and text helpers: the primitives every
// screen of the console stands on.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"
#include "platform/Crt.h"
#include "platform/Serial.h"

// --- serial port link ---------------------------------------------------------
constexpr int kMaxComPorts = 128;
// Open handles by port number (1..128); kInvalidSerialHandle when not open.
extern SerialHandle PortHandles[kMaxComPorts + 1];

int ComOpen(int port, uint16_t baud, char parity, uint8_t dataBits, uint16_t stopBits);
void ComPurge(int port);
bool ComClearError(int port);
int ComReadChar(int port, char& ch);
int ComWrite(int port, const ShortStr& text);
int ComReadLine(int port, ShortStr& dest, int capacity, int mode, char a, char b);
void ComClose(int port);
// One write call of a single byte; the bytes written (0 when the port is not open).
int ComWriteByte(int port, uint8_t byte);
// One read call of up to count bytes, bounded by the port's read time-out:
// the bytes read, or -1 when the port is not open or the read failed.
int ComReadRaw(int port, uint8_t* buffer, int count);
// Sleeps until a key is pending, bytes wait on port's line (0: no line) or
// maxMs have passed; says which. A latched Esc counts as a key.
WakeReason ComWait(uint32_t maxMs, int port);
// The read time-out of a baud rate: 50 characters of 10 bits, in ms.
uint32_t ComReadTimeoutMs(uint32_t baud);

// --- keyboard ------------------------------------------------------------------
constexpr uint8_t kEsc = 27;
extern bool EscAbort;
extern ShortStr KeyBuffer;

uint8_t PollKey();
uint8_t WaitKey();
uint8_t FlushKeys();
void ResetKeys();
// Takes the first key of KeyBuffer (0 when it is empty).
uint8_t TakeBufferedKey();

// --- waits ---------------------------------------------------------------------
void WaitTenths(int n);
int WaitSeconds(int n);

// --- line editing and text ----------------------------------------------------
int ReadField(ShortStr& text, int capacity);
void UpperStr(const ShortStr& source, ShortStr& dest);
char UpCase(char c);

// Reads one console line holding a whole number (blanks around it allowed).
// A line that is not a whole number of 32 bits is answered with
// kNotANumberText on the next line before NotANumber is returned.
enum class NumberEntry { Ok, NotANumber, Escaped };
NumberEntry ReadNumberLine(int32_t& value);
inline constexpr const char* kNotANumberText = "Not a number from -2147483648 to 2147483647";
// Reads one console line of text (at most 255 characters); false on Esc.
bool ReadTextLine(ShortStr& text);

// --- cursor and screen ---------------------------------------------------------
extern int SavedCursorX, SavedCursorY;
extern int ScreenCols, ScreenRows;
void SaveCursor();
void RestoreCursor();
void GetScreenSize();
int ScreenWidth();
int ScreenHeight();
void FullWindow();
void NewLine();

void TwoDigits(uint16_t n, char separator, ShortStr& dest);

// --- time ---------------------------------------------------------------------------
struct TimeStamp {
  uint16_t reserved[4] = {0, 0, 0, 0};
  uint16_t hour = 0, minute = 0, second = 0, hundredths = 0;
};
constexpr int32_t kHundredthsPerDay = 8640000;

void ToHundredths(const TimeStamp& t, int32_t& h);
void FromHundredths(int32_t h, TimeStamp& t);
void StopwatchStart(TimeStamp& start, TimeStamp& lap);
int32_t StopwatchRead(const TimeStamp& start, TimeStamp& now);
// How long a loop that acts once the stopwatch from start reads more than
// limit hundredths may sleep without acting late. The clock shows whole
// hundredths only, so the last one is left to be watched a millisecond at a
// time: 0 once it has begun.
uint32_t StopwatchSleepMs(const TimeStamp& start, int32_t limit);

// --- a line that goes away and comes back ------------------------------------
// A hang-up (the device gone, the connection closed by its far end) is not
// silence: the port's line is down until the platform has reopened it. The
// program only asks whether it is up again; it never opens the port itself.
//
// True when port's line is up. A line found down is recorded as lost (once
// per hang-up); one found back closes the record.
bool ComLineUp(int port);
// Waits until port's line is up again; true when it is. False at once when
// the port is not open, and on Esc (the Esc stays the caller's): the line is
// then given up and later waits return false at once, until the line is back
// or the port is opened again. While it waits it calls the line-wait hook
// every few tens of milliseconds and sleeps between, so Esc is answered
// within 100 ms.
bool ComAwaitLine(int port);
// The hang-up of a failed read or write on port, when that was its cause:
// records the line as lost. True when it was a hang-up.
bool ComNoteFailure(int port);
// Called while a wait for the line goes on (the status line shows the loss).
using LineWaitHook = void (*)(int port);
void SetLineWaitHook(LineWaitHook hook);
// Every hang-up since the program started: how many, and how long the line
// was down in all (a loss still going on counts up to now), in hundredths.
struct LineLosses {
  uint32_t count = 0;
  int64_t downHundredths = 0;
  bool down = false;     // a line is down now
  TimeStamp wentAt;      // the clock when the loss going on began
};
LineLosses ComLineLosses();
// No line lost, none down (part of ComLib3Init).
void ComLinesReset();

// --- random numbers -----------------------------------------------------------
extern uint32_t RandSeed;
uint32_t RandomBelow(uint32_t n);
void RandomizeFromClock();
int32_t RandomRange(int32_t lo, int32_t hi);

// --- result-file names --------------------------------------------------------
void UniqueResultName(uint16_t number, ShortStr& dest, const ShortStr& extension);

// Back to the state at program start (tests run many programs in one process).
void ComLib3Init();
