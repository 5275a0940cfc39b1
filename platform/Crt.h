// The text console: the operations the program's units use to draw and to read
// keys. Every backend implements them over the shared screen model
// (ScreenModel.h); the backends differ only in where keys come from, how time
// passes and how the model reaches a real display.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Serial.h"

// --- keyboard ---------------------------------------------------------------
// A key is pending (never blocks). Yields to the presenter.
bool KeyPressed();
// Blocking read of one key byte. An extended key (arrow, function key, Home,
// End, Del, ...) arrives as 0 followed by its DOS scan code on the next call.
uint8_t ReadKey();

// --- time --------------------------------------------------------------------
// Sleep for ms milliseconds (0 only yields). Yields to the presenter.
void Delay(uint32_t ms);
// What ended a PlatformWait.
enum class WakeReason { kKey, kLine, kDeadline };
// Sleeps until a key is pending (KeyPressed would say so), bytes can be read
// on line (kInvalidSerialHandle: no line) or maxMs have passed, whichever
// comes first; a key or bytes already there end it at once. A line that has
// failed or closed never wakes it: such a wait runs to its deadline. Costs
// nothing while it sleeps, unlike a loop of Delay(1). Yields to the presenter.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line);

// --- text window and cursor (all 1-based, relative to the current window) ---
void GotoXY(int x, int y);  // ignored when outside the window
int WhereX();
int WhereY();
// Sets the text window in screen coordinates; ignored when invalid.
void Window(int x1, int y1, int x2, int y2);
// Upper-left and lower-right corners of the window, 0-based, packed as
// column in the low byte and row in the high byte.
uint16_t WindMin();
uint16_t WindMax();
void ClrScr();  // fill the window with blanks in the current colours, cursor to 1,1
void ClrEol();
void TextColor(uint8_t colour);       // 0..15
void TextBackground(uint8_t colour);  // 0..15
uint8_t TextAttr();                   // background in the high nibble
void SetTextAttr(uint8_t attr);

// --- output ------------------------------------------------------------------
// CR, LF, BS and BEL act on the cursor and the bell; every other byte,
// control bytes included, is drawn as its code-page-437 glyph.
void WriteChar(uint8_t ch);
void WriteText(std::string_view text);
// Writes text from outside (the controller, a file) as glyphs only: control
// bytes are drawn, never acted on, so they cannot move the cursor.
void WriteGlyphs(std::string_view text);
void WriteInt(long long value, int width = 0);   // right-aligned in width
void WriteReal(double value, int width, int decimals);
// Bring what has been written to the display now.
void FlushOutput();

// --- whole-line input -----------------------------------------------------------
// Reads one line with echo and Backspace editing, up to capacity bytes
// (further typing is refused with the bell). Enter ends it and moves to the
// next line. Esc abandons the line: the typed text is discarded and false is
// returned. Extended keys are ignored.
bool ReadLine(char* buffer, size_t capacity, size_t& length);
