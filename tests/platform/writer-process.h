// Another process that holds a file open for writing until told to let go, like a program
// that is still writing a file into an input folder.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace vellumora::test {

class WriterProcess {
 public:
  // Forks a child that opens `path` for appending and keeps it open. Returns once it is open.
  explicit WriterProcess(const std::string& path) {
    int ready[2], hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(hold[1]);
      int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
      char c = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      while (read(hold[0], &c, 1) > 0) {
      }
      _exit(0);  // no atexit handlers, no sanitizer reports from the copy of the test process
    }
    close(ready[1]);
    close(hold[0]);
    holdFd_ = hold[1];
    char c = 'n';
    opened_ = pid_ > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }
  WriterProcess(const WriterProcess&) = delete;
  WriterProcess& operator=(const WriterProcess&) = delete;
  ~WriterProcess() { Close(); }

  bool opened() const { return opened_; }

  // The writer closes the file and ends.
  void Close() {
    if (holdFd_ >= 0) close(holdFd_);
    holdFd_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int holdFd_ = -1;
  bool opened_ = false;
};

}  // namespace vellumora::test
