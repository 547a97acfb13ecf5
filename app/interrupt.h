// Ctrl-C, SIGTERM and SIGHUP during an unattended run: the first asks the run to stop at the next
// record and keep nothing; a second ends the process at once, removing the temporary file of a
// save in progress. Installed by the programs' unattended path only, never by the libraries.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class InterruptHandling {
 public:
  // Installs the handlers; a signal then sets `cancelFlag`, which the export reads before each
  // record. The previous handlers come back when this ends.
  explicit InterruptHandling(std::atomic<int32_t>* cancelFlag);
  ~InterruptHandling();
  InterruptHandling(const InterruptHandling&) = delete;
  InterruptHandling& operator=(const InterruptHandling&) = delete;
};

// The exit code a shell gives a command ended by the signal: 128 plus its number.
int exitCodeForSignal(int signal);

// "SIGINT", "SIGTERM", "SIGHUP" (or the signal's number).
std::string signalName(int signal);
