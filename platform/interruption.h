// A run that was told to stop and keep nothing (Ctrl-C, SIGTERM, SIGHUP in the programs'
// unattended path). The programs' signal handlers note the signal here; the libraries and the
// wizard never do, so for them nothing below ever takes effect. Everything a handler calls is
// async-signal-safe.
#pragma once

#include <string>

// Notes the signal that asked the run to stop; the first one noted is kept.
void noteInterruption(int signal) noexcept;

// The signal noted, or 0 when the run was not interrupted.
int interruptionSignal() noexcept;

// Forgets a noted signal (tests only: the state is process-wide).
void resetInterruptionForTesting() noexcept;

// A file this process is writing that must go if the process is ended at once. Registered while
// the file exists under its temporary name; at most a few at a time.
class TemporaryFileGuard {
 public:
  explicit TemporaryFileGuard(const std::string& path) noexcept;
  ~TemporaryFileGuard();
  TemporaryFileGuard(const TemporaryFileGuard&) = delete;
  TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

 private:
  int slot_ = -1;
};

// Removes every registered temporary file; called from a signal handler just before the process
// ends at once.
void removeTemporaryFilesNow() noexcept;
