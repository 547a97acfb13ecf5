#include "job/progress.h"

#include <atomic>
#include <cstdio>

#include "options/conversion_options.h"
#include "platform/owner_window.h"
#include "platform/private_profile.h"

namespace {
std::atomic<int64_t> lastAcceptedTime{0};
}  // namespace

void writeStatus(const ConversionOptions* options, const std::string& value) {
  if (!options->statusFile.empty()) writeProfileString("QUARLEX", "Result", value, options->statusFile);
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

void resetShowTimesForTesting() { lastAcceptedTime = 0; }
