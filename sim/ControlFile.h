// Where --control's commands come from: a FIFO (made when the path does not
// exist, removed at Close) or a regular file read from its start and then
// followed as it grows.
#pragma once
#include <string>
#include <vector>

namespace sim {

class ControlFile {
 public:
  // False, with the reason ("cannot create ..." or "cannot open ...") in why.
  bool Open(const std::string& path, std::string& why);
  void Close();
  bool open() const { return fd_ >= 0; }
  // A FIFO is waited on; a regular file has no end to wait for and is read
  // every turn instead.
  bool fifo() const { return fifo_; }
  int fd() const { return fd_; }
  // Reads what came and hands back the complete lines, without their "\n".
  // A partial line past 4096 bytes is thrown away.
  std::vector<std::string> Lines();

 private:
  std::string path_;
  std::string partial_;
  int fd_ = -1;
  bool fifo_ = false;
  bool created_ = false;
};

}  // namespace sim
