// Result files on POSIX: created only when new, each line on the disk before
// the call returns, so a crash or power cut keeps every line written so far.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/TextFile.h"

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

int FileReadAll(std::string_view path, std::string& bytes, size_t maxBytes) {
  bytes.clear();
  const std::string p(path);
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int error = errno;
    close(fd);
    return error;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return EISDIR;
  }
  // The size is only a hint (a file may grow while it is read, and a pipe
  // has none): the limit holds for what is actually read.
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd);
      bytes.clear();
      return error;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > maxBytes) {
      close(fd);
      bytes.clear();
      return kFileTooLarge;
    }
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
}

int FileWriteWhole(std::string_view path, std::string_view bytes, bool replace) {
  const std::string p(path);
  const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644);
  if (fd < 0) return errno;
  size_t done = 0;
  int error = 0;
  while (done < bytes.size() && error == 0) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EINTR) error = errno;
    } else if (n == 0) {
      error = EIO;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  if (error == 0 && fsync(fd) != 0 && errno != EINVAL) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) unlink(p.c_str());
  return error;
}

int FileExistsError() { return EEXIST; }

std::string FileErrorText(int error) {
  if (error == kFileTooLarge) return "file too large";
  return std::strerror(error);
}
