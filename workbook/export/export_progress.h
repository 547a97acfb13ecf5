// What an export tells while it runs, to whoever runs it (job/ implements it): the stage for the
// status file, and the records written for the elapsed and estimated time.
#pragma once

#include <cstdint>

class ExportProgress {
 public:
  virtual ~ExportProgress() = default;
  // Before the records are read: a run that dies now has failed.
  virtual void readingRecords() = 0;
  // After each record: `done` of `total` written since `startTime` (seconds), now `currentTime`.
  virtual void recordsWritten(int64_t startTime, int64_t currentTime, int32_t done, int32_t total) = 0;
};
