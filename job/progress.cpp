#include "job/progress.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "options/conversion_options.h"
#include "platform/owner_window.h"
#include "platform/private_profile.h"

namespace {
std::atomic<int64_t> lastAcceptedTime{0};

// A script waiting on a status file that is never written must hear of it once, not at every stage.
std::mutex reportedMutex;
std::string reportedStatusFile;

void reportUnwritableStatusFile(const std::string& file, const std::string& reason) {
  std::lock_guard<std::mutex> lock(reportedMutex);
  if (reportedStatusFile == file) return;
  reportedStatusFile = file;
  // Never in a box: the wizard writes its stages too, and a dialog per stage would stop it.
  showMessageBox(nullptr, "Cannot write the status file " + file + ": " + reason, "Error", MessageIcon::Error);
}
}  // namespace

bool statusWriteFailed() {
  std::lock_guard<std::mutex> lock(reportedMutex);
  return !reportedStatusFile.empty();
}

void writeStatus(const ConversionOptions* options, const std::string& value) {
  if (options->statusFile.empty()) return;
  std::string reason;
  if (!writeProfileString("QUARLEX", "Result", value, options->statusFile, &reason))
    reportUnwritableStatusFile(options->statusFile, reason);
}

std::string formatTimes(uint64_t elapsed, uint64_t estimated) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "Elapsed time:\t%02llu:%02llu:%02llu\nEstimated time:\t%02llu:%02llu:%02llu",
                static_cast<unsigned long long>(elapsed / 3600), static_cast<unsigned long long>(elapsed / 60 % 60),
                static_cast<unsigned long long>(elapsed % 60), static_cast<unsigned long long>(estimated / 3600),
                static_cast<unsigned long long>(estimated / 60 % 60), static_cast<unsigned long long>(estimated % 60));
  return buf;
}

void ShowTimes(OwnerWindow* window, int64_t startTime, int64_t currentTime, int32_t recordsDone, int32_t recordsTotal) {
  if (currentTime == lastAcceptedTime.load()) return;
  if (recordsDone == 0) return;
  lastAcceptedTime = currentTime;
  int64_t elapsed = currentTime - startTime;
  if (elapsed < 2) return;
  // elapsed × total fits easily in 128 bits whatever the clock says.
  unsigned __int128 estimate = static_cast<unsigned __int128>(elapsed) *
                               static_cast<unsigned __int128>(recordsTotal < 0 ? 0 : recordsTotal) /
                               static_cast<unsigned __int128>(recordsDone < 0 ? 1 : recordsDone);
  uint64_t estimated = estimate > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(estimate);
  if (window) window->setControlText(kTimeTextControl, formatTimes(static_cast<uint64_t>(elapsed), estimated));
}

void JobProgress::readingRecords() { writeStatus(options_, kStatusFailed); }

void JobProgress::recordsWritten(int64_t startTime, int64_t currentTime, int32_t done, int32_t total) {
  ShowTimes(owner_, startTime, currentTime, done, total);
}

void resetShowTimesForTesting() { lastAcceptedTime = 0; }
