// Result files on POSIX: created only when new, each line on the disk before
// the call returns, so a crash or power cut keeps every line written so far.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/textfile.h"

int TextFileCreateNew(TextFile& f, std::string_view path) {
  f.handle = -1;
  std::string p(path);
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  f.handle = fd;
  return 0;
}

int TextFileWriteLine(TextFile& f, std::string_view text) {
  if (!f.IsOpen()) return EBADF;
  const int fd = static_cast<int>(f.handle);
  std::string line(text);
  line.push_back('\n');
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  // EINVAL: the file lives where syncing means nothing (a pipe or special
  // file); the line has been handed over all the same.
  if (fdatasync(fd) != 0 && errno != EINVAL) return errno;
  return 0;
}

void TextFileClose(TextFile& f) {
  if (f.IsOpen()) close(static_cast<int>(f.handle));
  f.handle = -1;
}
