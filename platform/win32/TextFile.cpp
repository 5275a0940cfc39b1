// Result files on Windows: created only when new, each line handed to the
// disk before the call returns, so a crash or power cut keeps every line
// written so far.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/TextFile.h"

namespace {
HANDLE H(const TextFile& f) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(f.handle)); }
}  // namespace

int TextFileCreateNew(TextFile& f, std::string_view path) {
  f.handle = -1;
  const std::string p(path);
  // Others may read the file while the test writes it.
  HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  f.handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return 0;
}

int TextFileWriteLine(TextFile& f, std::string_view text) {
  if (!f.IsOpen()) return ERROR_INVALID_HANDLE;
  std::string line(text);
  line += "\r\n";
  size_t done = 0;
  while (done < line.size()) {
    DWORD n = 0;
    if (!WriteFile(H(f), line.data() + done, static_cast<DWORD>(line.size() - done), &n, nullptr))
      return static_cast<int>(GetLastError());
    if (n == 0) return ERROR_WRITE_FAULT;
    done += n;
  }
  if (!FlushFileBuffers(H(f))) return static_cast<int>(GetLastError());
  return 0;
}

void TextFileClose(TextFile& f) {
  if (f.IsOpen()) CloseHandle(H(f));
  f.handle = -1;
}

int FileReadAll(std::string_view path, std::string& bytes, size_t maxBytes) {
  bytes.clear();
  const std::string p(path);
  // Read while the console may still be writing it.
  HANDLE h = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
      const int error = static_cast<int>(GetLastError());
      CloseHandle(h);
      bytes.clear();
      return error;
    }
    if (n == 0) break;
    if (bytes.size() + n > maxBytes) {
      CloseHandle(h);
      bytes.clear();
      return kFileTooLarge;
    }
    bytes.append(chunk, n);
  }
  CloseHandle(h);
  return 0;
}

int FileWriteWhole(std::string_view path, std::string_view bytes, bool replace) {
  const std::string p(path);
  HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, replace ? CREATE_ALWAYS : CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  size_t done = 0;
  int error = 0;
  while (done < bytes.size() && error == 0) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(h, bytes.data() + done, want, &n, nullptr))
      error = static_cast<int>(GetLastError());
    else if (n == 0)
      error = ERROR_WRITE_FAULT;
    else
      done += n;
  }
  if (error == 0 && !FlushFileBuffers(h)) error = static_cast<int>(GetLastError());
  CloseHandle(h);
  if (error != 0) DeleteFileA(p.c_str());
  return error;
}

int FileExistsError() { return ERROR_FILE_EXISTS; }

std::string FileErrorText(int error) {
  if (error == kFileTooLarge) return "file too large";
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  if (s.empty()) s = "error " + std::to_string(error);
  return s;
}
