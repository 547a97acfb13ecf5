// Writing a whole buffer through a file descriptor: write(2) may take part of it, or be
// interrupted by a signal before it takes any.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

// False when the system refused a write (errno says why) or took nothing (errno left as it was).
inline bool writeWhole(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
