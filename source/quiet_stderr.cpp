#include "source/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {
std::mutex gLock;
int gDepth = 0;
int gSavedFd = -1;
}  // namespace

QuietStderr::QuietStderr() {
  std::lock_guard<std::mutex> hold(gLock);
  if (gDepth++ > 0) return;
  std::fflush(stderr);
  // Opened once and kept: records are read in tight loops.
  static int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return;
  gSavedFd = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (gSavedFd >= 0) ::dup2(devNull, 2);
}

QuietStderr::~QuietStderr() {
  std::lock_guard<std::mutex> hold(gLock);
  if (--gDepth > 0) return;
  std::fflush(stderr);
  if (gSavedFd >= 0) {
    ::dup2(gSavedFd, 2);
    ::close(gSavedFd);
    gSavedFd = -1;
  }
}
