// An exclusive advisory lock (flock) on a file that a job reads and then replaces, so that two
// processes extending one workbook take turns instead of losing each other's work. The second
// waits as long as the first holds the lock.
//
// The lock sits on the file itself. A writer replaces the file by a rename, so a waiter that wakes
// up may hold the lock of a file that is no longer at the path: it then locks the new one. A
// missing file is created empty to have something to lock, and removed again on release when
// nothing was written to it.
#pragma once

#include <string>

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the lock; false with the system's reason when the file cannot be opened or made.
  bool acquire(const std::string& path, std::string& error);
  void release();
  bool held() const { return fd_ >= 0; }
  // True when acquire made the (then missing) file.
  bool created() const { return created_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
};
