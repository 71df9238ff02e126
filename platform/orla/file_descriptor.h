// FileDescriptor: owns one open file descriptor and closes it when it goes,
// so every early return of a reader closes what it opened.
#pragma once

#include <unistd.h>

namespace orla {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    // Negative when the open failed.
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace orla
