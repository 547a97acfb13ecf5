// The progress of an unattended run on a terminal: one line on standard error, redrawn in place
// ("shop.accdb: Orders 1200 of 5000  Elapsed time: 00:00:03  Estimated time: 00:00:10") and
// cleared when the run ends. The times are the wizard's (ShowTimes). Used only when standard error
// is a terminal; scripts, logs and the libraries never see it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/owner_window.h"

struct ConversionOptions;

// True when standard error is a terminal.
bool standardErrorIsTerminal();

class TerminalProgress : public OwnerWindow {
 public:
  // The database shown is the record's source path at the time of drawing.
  explicit TerminalProgress(const ConversionOptions* options);
  ~TerminalProgress() override;  // clears the line
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Clears the line first, so that the error line stands alone.
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void showNote(const std::string& line) override;
  void setControlText(int controlId, const std::string& text) override;
  void setProgressRange(int controlId, int32_t low, int32_t high) override;
  void setProgressStep(int controlId, int32_t step) override;
  void stepProgress(int controlId) override;
  void repaint() override {}

 private:
  void draw();
  void clear();

  const ConversionOptions* options_;
  std::string table_;
  std::string times_;
  bool rangeKnown_ = false;
  int64_t low_ = 0;
  int64_t high_ = 0;
  int64_t position_ = 0;
  int32_t step_ = 1;
  std::time_t drawnAt_ = 0;
  size_t shownColumns_ = 0;  // what the line covers on the terminal now
};

