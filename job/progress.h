// What a running conversion shows: the elapsed and estimated time on the progress page, and the
// stage reached in the status file that unattended callers read.
#pragma once

#include <cstdint>
#include <string>

#include "workbook/export/export_progress.h"

class OwnerWindow;
struct ConversionOptions;

// Stage values of the status file.
inline constexpr const char* kStatusWelcome = "Welcome dialog";
inline constexpr const char* kStatusSourceSelection = "Source file selection";
inline constexpr const char* kStatusOutputSelection = "Output file selection";
inline constexpr const char* kStatusInProgress = "Conversion In Progress";
inline constexpr const char* kStatusFailed = "Failed";
inline constexpr const char* kStatusSuccessful = "Successful";

// Sets Result in section QUARLEX of the record's status file when it names one. A file that cannot be
// written is told once on standard error, with the reason; the run goes on.
void writeStatus(const ConversionOptions* options, const std::string& value);
// True once a status write of this process has failed: the run then cannot count as a success,
// since the calling script may have read a stale value.
bool statusWriteFailed();

// The time text "Elapsed time:\t..\nEstimated time:\t.." for whole seconds.
std::string formatTimes(uint64_t elapsedSeconds, uint64_t estimatedSeconds);

// Sets the time text of the window at most once a second, once two seconds of the table have
// passed and a record has been written; the estimate is for the whole table.
void ShowTimes(OwnerWindow* window, int64_t startTime, int64_t currentTime, int32_t recordsDone, int32_t recordsTotal);

// An export's progress as a job shows it: the status file's stage, the window's times.
class JobProgress : public ExportProgress {
 public:
  JobProgress(OwnerWindow* owner, const ConversionOptions* options) : owner_(owner), options_(options) {}
  void readingRecords() override;
  void recordsWritten(int64_t startTime, int64_t currentTime, int32_t done, int32_t total) override;

 private:
  OwnerWindow* owner_;
  const ConversionOptions* options_;
};

// Forgets the last accepted time (tests only: the value is process-wide).
void resetShowTimesForTesting();
