// A menu as a table: one row per choice, read by the loops that show the
// menu, dispatch the choice and (for the main menu) read the geometry before
// it and reset the screens' state at program start. The main menu
// (Console.h) and the component test menu (ComponentTests.h) are tables of
// these rows.
#pragma once
#include <cstddef>
#include <span>

#include "comLib3/ShortStr.h"

// Whether the main loop reads the store's geometry (DM25, DM29, DM46, DM47,
// DM23, DM22, DM20, relay 1703) fresh before the choice runs.
enum class Geometry : bool { NotRead, Read };

// Whether the choice is a test (a run with an outcome) or a screen.
enum class RowKind : bool { Screen, Test };

struct MenuRow {
  // The key that picks the row, as the menu compares it: upper-cased.
  char key;
  // The row's text on the menu, before its key; nullptr for a choice the
  // menu does not show.
  const char* label;
  // What the choice runs; nullptr when it runs nothing (quit, a component
  // that has no test).
  void (*run)() = nullptr;
  Geometry geometry = Geometry::NotRead;
  // Puts the state that the screen's own unit defines, and keeps from one
  // choice to the next, back to its values at program start; nullptr when
  // it defines none. State that several screens read is named on the row of
  // the unit that defines it, so each reset runs once.
  void (*init)() = nullptr;
  // A test runs between a start and an end record on the line's trace.
  RowKind kind = RowKind::Screen;
};

// The row picked by `key` (compared as it is), or nullptr when no row has it.
const MenuRow* FindMenuRow(std::span<const MenuRow> rows, char key);

// A shown row's menu line: its label padded with blanks to `width`
// characters, then its key. The label must be shorter than `width`, so that
// a blank always stands before the key.
ShortStr MenuLine(const MenuRow& row, size_t width);
