#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool FileLock::acquire(const std::string& path, std::string& error) {
  release();
  for (;;) {
    bool created = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;  // another process made it meanwhile
    }
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    int rc;
    while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
    if (rc != 0) {
      error = std::strerror(errno);
      close(fd);
      return false;
    }
    // The holder before us may have renamed a new file over the path, or removed the one it made:
    // then our lock guards nothing and the path's current file is locked instead.
    struct stat locked {}, current {};
    if (fstat(fd, &locked) == 0 && stat(path.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
        locked.st_ino == current.st_ino) {
      fd_ = fd;
      path_ = path;
      created_ = created;
      return true;
    }
    close(fd);
  }
}

void FileLock::release() {
  if (fd_ < 0) return;
  if (created_) {
    // The empty file made to hold the lock goes again when no workbook took its place.
    struct stat locked {}, current {};
    if (fstat(fd_, &locked) == 0 && stat(path_.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
        locked.st_ino == current.st_ino && current.st_size == 0)
      unlink(path_.c_str());
  }
  close(fd_);  // closing releases the lock
  fd_ = -1;
  created_ = false;
}
