#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/atomic_file.h"
#include "platform/interruption.h"
#include "platform/paths.h"

namespace {

// How long a waiter sleeps between tries: short enough to follow the holder closely, long enough
// to cost nothing while it waits, and a wait that a signal can end.
constexpr long kRetryNanoseconds = 20'000'000;

std::string runtimeFolder() {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(name);
    struct stat st {};
    if (value && *value && stat(value, &st) == 0 && S_ISDIR(st.st_mode)) return value;
  }
  return "/tmp";
}

// The path as one name for the file: links followed, the folder made absolute and canonical.
std::string fullPathOf(const std::string& path) {
  WriteTarget target;
  std::string error;
  std::string file = resolveWriteTarget(path, target, error) ? target.path : path;
  std::string folder = folderOf(file);
  char resolved[PATH_MAX];
  if (realpath(folder.empty() ? "." : folder.c_str(), resolved)) return std::string(resolved) + "/" + fileNameOf(file);
  return file;
}

// FNV-1a: stable from build to build, so every program and library of any version agrees on the
// name. Two paths that share a hash only take turns needlessly.
uint64_t pathHash(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::string FileLock::lockFileFor(const std::string& path) {
  char name[40];
  std::snprintf(name, sizeof name, "quarlex-%016llx.lock", static_cast<unsigned long long>(pathHash(fullPathOf(path))));
  return runtimeFolder() + "/" + name;
}

bool FileLock::acquire(const std::string& path, std::string& error) {
  release();
  const std::string lockPath = lockFileFor(path);
  for (;;) {
    // Never through a link, never blocking on what is no regular file (the folder may be shared).
    const int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(lockPath.c_str(), O_RDWR | flags, 0644);
    if (fd < 0 && errno == EACCES) fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = "cannot make the lock file " + lockPath + ": " + std::strerror(errno);
      return false;
    }
    struct stat locked {};
    if (fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode)) {
      error = "the lock file " + lockPath + " is not a regular file";
      close(fd);
      return false;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = "cannot lock " + lockPath + ": " + std::strerror(errno);
        close(fd);
        return false;
      }
      if (interruptionSignal() != 0) {
        error = "interrupted while waiting for another conversion of the same workbook";
        close(fd);
        return false;
      }
      struct timespec pause {0, kRetryNanoseconds};
      nanosleep(&pause, nullptr);
    }
    // The holder before us removed the lock file on release: our lock guards nothing, and the
    // file now at the path (made by a third process, perhaps) is the one to lock.
    struct stat current {};
    if (stat(lockPath.c_str(), &current) == 0 && sameFile(locked, current)) {
      fd_ = fd;
      lockPath_ = lockPath;
      removedOnExit_.emplace(lockPath_);
      return true;
    }
    close(fd);
  }
}

void FileLock::release() {
  if (fd_ < 0) return;
  // Forgotten first: once unlinked, the path may name another process's lock file.
  removedOnExit_.reset();
  // Removed while still held, so no waiter can lock it after us and think itself alone.
  unlink(lockPath_.c_str());
  close(fd_);
  fd_ = -1;
}
