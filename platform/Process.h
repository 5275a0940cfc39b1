// Another program run for what this one leaves to it (vekton-report has a
// browser print its page), and what that takes from the system: the
// environment, a private folder for the run's files, a file's absolute name.
// Each argument reaches the program as it was given: no shell is in between,
// so nothing in a file name is interpreted.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The text of an environment variable, empty when it is not set.
std::string ProcessEnv(std::string_view name);

// True when path names a file that can be run.
bool ProgramExists(std::string_view path);
// The program called name in the folders PATH lists (on Windows name.exe
// as well), empty when there is none. A name with a folder in it is not
// searched for: it is taken as it is when it exists.
std::string ProgramInPath(std::string_view name);

// path as an absolute name in UTF-8 with '/' between folders
// ("/tmp/a b.html", "C:/Users/Kim/a b.html"): what a file URL is made of.
// Empty when the system cannot make one.
std::string AbsoluteUtf8Path(std::string_view path);

// Makes a new folder that only this user may enter, in the system's folder
// for temporary files, and gives its name in path. Returns 0 or the system
// error code (FileErrorText reads it).
int TempFolderCreate(std::string& path);
// Removes the folder at path with everything in it; what cannot be removed
// is left.
void TempFolderRemove(std::string_view path);

struct ProgramOutcome {
  int error = 0;          // the system's code when the program could not be started
  bool timedOut = false;  // still running at the deadline: stopped, with all it had started
  int exitCode = -1;      // its exit status when it ended by itself
};

// Runs program with args and waits at most timeoutMs for it to end. Its
// input is empty; what it writes to its output and its error output goes to
// outputPath, made new or emptied. At the deadline the program is stopped
// together with every process it started.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath, int timeoutMs);
