// The progress page as the owner window of a conversion running on a worker thread.
//
// The worker only stores values: the bar's range and position in atomics (one relaxed add per
// record), the two texts under a mutex (once per table, at most once a second for the times).
// A timer on the GUI thread copies them into the widgets. Message boxes are queued to the GUI
// thread and the worker waits until the user has closed them, or until the page is gone.
//
// The sink also keeps what the result page tells afterwards: the last message of the job and the
// table under way with its records done. While the user is asked whether to stop, the worker can
// be held before its next record (the export repaints its window there), so the record the
// question names is the one the conversion stops at.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/owner_window.h"

class QLabel;
class QProgressBar;
class QWidget;

class ProgressSink : public OwnerWindow {
 public:
  // A message box the job asked for.
  struct JobMessage {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
  };
  // The table the conversion works on, as its label names it ("TABLE -> WORKBOOK"), with the
  // records of it written so far and its record count; a total below 0 means not counted.
  struct TableAtWork {
    std::string label;
    int64_t done = 0;
    int64_t total = -1;
  };

  // `owner` is the page that owns the message boxes; the widgets receive what flush() copies.
  ProgressSink(QWidget* owner, QProgressBar* bar, QLabel* tableLabel, QLabel* timeLabel);
  ~ProgressSink() override;

  // Worker side.
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void setControlText(int controlId, const std::string& text) override;
  void setProgressRange(int controlId, int32_t low, int32_t high) override;
  void setProgressStep(int controlId, int32_t step) override;
  void stepProgress(int controlId) override;
  // Called before each record; waits here while the GUI holds the worker.
  void repaint() override;

  // GUI side: copies the latest values into the widgets.
  void flush();
  // GUI side: the wizard is closing; messages still to come go to standard error and nobody waits.
  void detach();

  // GUI side: what the job reported last, and where it is (or stopped).
  std::optional<JobMessage> lastMessage();
  TableAtWork tableAtWork();

  // GUI side: asks the worker to wait before its next record; true once it waits there, false
  // when it did not come there within `milliseconds` (it is not exporting records just now).
  bool holdWorker(int milliseconds);
  // GUI side: lets a held worker go on.
  void releaseWorker();

 private:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    bool done = false;
  };
  void showQueuedMessages();

  QWidget* owner_;
  QProgressBar* bar_;
  QLabel* tableLabel_;
  QLabel* timeLabel_;

  std::atomic<int32_t> low_{0};
  std::atomic<int32_t> high_{100};
  std::atomic<int32_t> step_{10};
  std::atomic<int64_t> position_{0};
  std::atomic<int64_t> tableTotal_{-1};
  std::atomic<bool> holdAsked_{false};

  std::mutex mutex_;
  std::condition_variable messageDone_;
  std::condition_variable holdChanged_;
  bool held_ = false;
  std::optional<JobMessage> lastMessage_;
  std::string tableText_;
  std::string timeText_;
  bool tableTextNew_ = false;
  bool timeTextNew_ = false;
  bool detached_ = false;
  std::deque<std::shared_ptr<Message>> messages_;
};
