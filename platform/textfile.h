// Text files written line by line: the result file. Each line reaches the disk
// when it is written, so a crash or power cut keeps every line before it.
#pragma once
#include <string_view>

struct TextFile {
  long long handle = -1;
  bool IsOpen() const { return handle >= 0; }
};

// Creates path only when no file of that name exists. Returns 0 or the
// system error code.
int TextFileCreateNew(TextFile& f, std::string_view path);
// Writes text and a line end. Returns 0 or the system error code.
int TextFileWriteLine(TextFile& f, std::string_view text);
void TextFileClose(TextFile& f);
