// Another program run on Windows: CreateProcessW with a command line quoted
// so that the program's C runtime splits it back into exactly the arguments
// given, inside a job object so that it can be stopped with every helper
// process it started. The program's own strings are in the ANSI code page,
// as its arguments and file names reach it.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Process.h"

namespace {

std::wstring Wide(std::string_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
  return w;
}

std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// One argument as CommandLineToArgvW and the C runtimes read it back:
// quotes around it when it holds a blank or a quote (or is empty), a quote
// inside escaped, and backslashes doubled only where a quote follows them.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool IsFile(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(path.c_str());  // a link to a folder: the link only
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::string ProcessEnv(std::string_view name) {
  const std::wstring n = Wide(name);
  const DWORD size = GetEnvironmentVariableW(n.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD got = GetEnvironmentVariableW(n.c_str(), value.data(), size);
  value.resize(got < size ? got : 0);
  return Narrow(value);
}

bool ProgramExists(std::string_view path) { return !path.empty() && IsFile(Wide(path)); }

std::string ProgramInPath(std::string_view name) {
  if (name.empty()) return {};
  if (name.find_first_of("/\\:") != std::string_view::npos)
    return ProgramExists(name) ? std::string(name) : std::string();
  std::string withExe(name);
  if (withExe.size() < 4 || _stricmp(withExe.c_str() + withExe.size() - 4, ".exe") != 0) withExe += ".exe";
  const std::string list = ProcessEnv("PATH");
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string folder = list.substr(start, end - start);
    // A folder in quotes is still that folder.
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
      folder = folder.substr(1, folder.size() - 2);
    if (!folder.empty()) {
      if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
      if (ProgramExists(folder + withExe)) return folder + withExe;
    }
    start = end + 1;
  }
  return {};
}

std::string AbsoluteUtf8Path(std::string_view path) {
  const std::wstring w = Wide(path);
  const DWORD size = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  const DWORD got = GetFullPathNameW(w.c_str(), size, full.data(), nullptr);
  if (got == 0 || got >= size) return {};
  full.resize(got);
  std::string utf8 = Narrow(full, CP_UTF8);
  for (char& c : utf8)
    if (c == '\\') c = '/';
  return utf8;
}

int TempFolderCreate(std::string& path) {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) return static_cast<int>(GetLastError() != 0 ? GetLastError() : ERROR_PATH_NOT_FOUND);
  // The folder for temporary files is the user's own, so a folder made in
  // it with the inherited rights is closed to other users already.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = std::wstring(base) + L"vekton-report." + std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(GetTickCount() + attempt);
    if (CreateDirectoryW(name.c_str(), nullptr)) {
      path = Narrow(name);
      return 0;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return static_cast<int>(GetLastError());
  }
  return ERROR_ALREADY_EXISTS;
}

void TempFolderRemove(std::string_view path) {
  if (!path.empty()) RemoveTree(Wide(path));
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outputPath, int timeoutMs) {
  ProgramOutcome outcome;
  const std::wstring exe = Wide(program);
  std::wstring line;
  AppendQuoted(line, exe);
  for (const std::string& a : args) {
    line += L' ';
    AppendQuoted(line, Wide(a));
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Shared for everything: a process that inherited the handle and lingers
  // (a console host) must not keep the file from being read or removed.
  HANDLE output =
      CreateFileW(Wide(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    outcome.error = static_cast<int>(GetLastError());
    return outcome;
  }
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = output;
  si.hStdError = output;
  PROCESS_INFORMATION pi{};
  // Suspended until it is in the job, so that nothing it starts escapes.
  const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  const DWORD startError = started ? 0 : GetLastError();
  CloseHandle(output);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!started) {
    outcome.error = static_cast<int>(startError);
    return outcome;
  }
  // Closing the job ends whatever of it is still running: helper processes
  // never outlive the run. Where a job cannot be had (an older system that
  // runs this program inside a job of its own), the program alone is
  // stopped at the deadline.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit);
    if (!AssignProcessToJobObject(job, pi.hProcess)) {
      CloseHandle(job);
      job = nullptr;
    }
  }
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);

  if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0)) != WAIT_OBJECT_0) {
    outcome.timedOut = true;
    if (job != nullptr) TerminateJobObject(job, 1);
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
  } else {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    outcome.exitCode = static_cast<int>(code);
  }
  if (job != nullptr) CloseHandle(job);
  CloseHandle(pi.hProcess);
  return outcome;
}
