// Text files written line by line: the result file. Each line reaches the disk
// when it is written, so a crash or power cut keeps every line before it.
// And whole files, read or written in one go: the report pages and what they
// are made from.
#pragma once
#include <cstddef>
#include <string>
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

// Not a system error code: the file is larger than the reader would take.
constexpr int kFileTooLarge = -2;

// Reads the whole file at path into bytes, opened for reading only. A file
// of more than maxBytes is not read (kFileTooLarge). Returns 0 or the system
// error code; bytes is empty on failure.
int FileReadAll(std::string_view path, std::string& bytes, size_t maxBytes);
// Writes bytes as the file at path. Without replace an existing file is left
// as it is and FileExistsError() is returned; with it the file is written
// over. A file that could not be written whole is removed again, so no half
// file is left behind. Returns 0 or the system error code.
int FileWriteWhole(std::string_view path, std::string_view bytes, bool replace);
// The system's code for "the file exists".
int FileExistsError();
// The system's text for an error code of the calls above.
std::string FileErrorText(int error);
