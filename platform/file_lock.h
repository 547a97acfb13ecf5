// An exclusive advisory lock (flock) that a job holds on the workbook it reads and then replaces,
// so that two processes extending one workbook take turns instead of losing each other's work.
// The second waits as long as the first holds the lock.
//
// The lock is a small file of its own in the runtime folder ($XDG_RUNTIME_DIR, else the temporary
// folder), named after the workbook's full path: nothing is ever made beside the workbook, not
// even when the process is killed. It is removed on release; a waiter that then holds the lock
// of a removed file locks the path's new one.
#pragma once

#include <optional>
#include <string>

#include "platform/interruption.h"

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the lock of the file at `path`. False with the reason when the lock file cannot be
  // made or opened, or when the run is interrupted while waiting; never blocks on anything else.
  bool acquire(const std::string& path, std::string& error);
  void release();
  bool held() const { return fd_ >= 0; }

  // The lock file that stands for `path`: the same for every name of the file through links.
  static std::string lockFileFor(const std::string& path);

 private:
  std::string lockPath_;
  int fd_ = -1;
  // While the lock is held, a run ended at once (a second Ctrl-C) removes its file as well.
  std::optional<TemporaryFileGuard> removedOnExit_;
};
