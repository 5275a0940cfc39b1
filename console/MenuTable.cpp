// Looking up and showing the rows of a menu table.
#include "console/MenuTable.h"

const MenuRow* FindMenuRow(std::span<const MenuRow> rows, char key) {
  for (const MenuRow& row : rows)
    if (row.key == key) return &row;
  return nullptr;
}

ShortStr MenuLine(const MenuRow& row, size_t width) {
  ShortStr line(row.label);
  // The text holds 255 characters at most: a wider field stops there.
  while (line.size() < width && line.size() < ShortStr::kMax) line += ' ';
  return line + row.key;
}
