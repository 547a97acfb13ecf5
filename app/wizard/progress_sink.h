// The progress page as the owner window of a conversion running on a worker thread.
//
// The worker only stores values: the bar's range and position in atomics (one relaxed add per
// record), the two texts under a mutex (once per table, at most once a second for the times).
// A timer on the GUI thread copies them into the widgets. Message boxes are queued to the GUI
// thread and the worker waits until the user has closed them, or until the page is gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/owner_window.h"

class QLabel;
class QProgressBar;
class QWidget;

class ProgressSink : public OwnerWindow {
 public:
  // `owner` is the page that owns the message boxes; the widgets receive what flush() copies.
  ProgressSink(QWidget* owner, QProgressBar* bar, QLabel* tableLabel, QLabel* timeLabel);
  ~ProgressSink() override;

  // Worker side.
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void setControlText(int controlId, const std::string& text) override;
  void setProgressRange(int controlId, int32_t low, int32_t high) override;
  void setProgressStep(int controlId, int32_t step) override;
  void stepProgress(int controlId) override;
  void repaint() override {}

  // GUI side: copies the latest values into the widgets.
  void flush();
  // GUI side: the wizard is closing; messages still to come go to standard error and nobody waits.
  void detach();

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

  std::mutex mutex_;
  std::condition_variable messageDone_;
  std::string tableText_;
  std::string timeText_;
  bool tableTextNew_ = false;
  bool timeTextNew_ = false;
  bool detached_ = false;
  std::deque<std::shared_ptr<Message>> messages_;
};
