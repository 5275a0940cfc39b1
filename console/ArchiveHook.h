// The console's one door to the archive of runs (vekton-archive's library):
// a --archive file checked at the start, and each finished run's result file
// put into it. The Windows build has no archive (no SQLite comes with its
// compiler): there the start refuses the option and nothing else changes.
#pragma once
#include <string>

// The archive file is opened, or made when missing, so that a path that
// cannot work stops the start rather than an overnight run's import. False
// with the line to print (without "vekton: " and its newline) in message:
// "DB: why", or in a build without the archive, why the option is refused.
bool ConsoleArchiveCheck(const std::string& dbPath, std::string& message);

// Imports the closed result file into the archive; line is what the screen
// shows under the run's page ("Archived in DB" or "Not archived: ..."). It
// waits for a busy archive no longer than the archive's own busy time-out,
// and not at all once Esc is pressed.
bool ConsoleArchiveRun(const std::string& dbPath, const std::string& resultFile, std::string& line);
