#include "sim/ControlFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

bool ControlFile::Open(const std::string& path, std::string& why) {
  path_ = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (mkfifo(path.c_str(), 0600) != 0) {
      why = "cannot create " + path + ": " + std::strerror(errno);
      return false;
    }
    created_ = true;
    fifo_ = true;
  } else {
    fifo_ = S_ISFIFO(st.st_mode);
  }
  // A FIFO opened for writing too never reports a hang-up when a writer
  // closes, so one open serves every writer that comes.
  fd_ = ::open(path.c_str(), (fifo_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    why = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void ControlFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (created_) unlink(path_.c_str());
}

std::vector<std::string> ControlFile::Lines() {
  std::vector<std::string> lines;
  if (fd_ < 0) return lines;
  char buf[1024];
  for (;;) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) {
      partial_.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  size_t nl;
  while ((nl = partial_.find('\n')) != std::string::npos) {
    lines.push_back(partial_.substr(0, nl));
    partial_.erase(0, nl + 1);
  }
  if (partial_.size() > 4096) partial_.clear();
  return lines;
}

}  // namespace sim
