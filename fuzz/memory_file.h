// A fuzz input as a file: an anonymous memory file, seen through /proc like any other path and
// gone when this goes; and a count of such files the process has open, for finding leaked ones.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/write_whole.h"

class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size, const char* name) : fd_(memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0 || !writeWhole(fd_, data, size)) {
      std::perror("fuzz: memory file");
      std::abort();  // the harness failing, not the code under test
    }
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// A folder for what a target writes, removed at exit: in memory where the system has a
// shared-memory file system, so the flushes of every save cost nothing.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* name) {
    std::error_code error;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                                                    : std::filesystem::temp_directory_path();
    std::string pattern = (base / (std::string(name) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
      std::perror("fuzz: scratch folder");
      std::abort();
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline int openMemoryFiles() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code unreadable;  // the listing's own descriptor, gone by now
    std::filesystem::path target = std::filesystem::read_symlink(entry.path(), unreadable);
    if (!unreadable && target.string().rfind("/memfd:", 0) == 0) ++count;
  }
  return count;
}
