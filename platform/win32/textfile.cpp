// Result files on Windows: created only when new, each line handed to the
// disk before the call returns, so a crash or power cut keeps every line
// written so far.
#include <windows.h>

#include <string>

#include "platform/textfile.h"

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
