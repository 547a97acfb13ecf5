// Reading a whole stretch of a file at an offset: pread(2) may return part of it, or be
// interrupted by a signal before it reads any.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

// The bytes read: `size`, or fewer where the file ends first; -1 when the system refused a read
// (errno says why).
inline ssize_t preadWhole(int fd, void* data, size_t size, off_t at) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd, p + got, size - got, at + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}
