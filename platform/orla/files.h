// Files the services read from the kernel's trees (sysfs, procfs): a
// descriptor that closes itself, and one bounded read of a regular file.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>

namespace orla {

// Owns one open file descriptor and closes it when it goes, so every early
// return of a reader closes what it opened.
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

// The first octets of the regular file at `path`, at most `maxBytes` + 1:
// more than `maxBytes` tells the caller that the file is longer. nullopt
// when it is missing, unreadable or not a regular file (a FIFO planted in
// its place is not waited on).
std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes);

}  // namespace orla
