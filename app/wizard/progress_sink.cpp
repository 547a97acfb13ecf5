#include "app/wizard/progress_sink.h"

#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QString>
#include <algorithm>
#include <chrono>

ProgressSink::ProgressSink(QWidget* owner, QProgressBar* bar, QLabel* tableLabel, QLabel* timeLabel)
    : owner_(owner), bar_(bar), tableLabel_(tableLabel), timeLabel_(timeLabel) {}

ProgressSink::~ProgressSink() { detach(); }

void ProgressSink::setControlText(int controlId, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (controlId == kTableLabelControl) {
    // A new table: its records are counted once its range is set.
    tableText_ = text;
    tableTextNew_ = true;
    tableTotal_.store(-1, std::memory_order_relaxed);
  } else if (controlId == kTimeTextControl) {
    timeText_ = text;
    timeTextNew_ = true;
  }
}

void ProgressSink::setProgressRange(int controlId, int32_t low, int32_t high) {
  if (controlId != kProgressBarControl) return;
  low_.store(low, std::memory_order_relaxed);
  high_.store(high, std::memory_order_relaxed);
  // Each table's bar starts from its beginning.
  position_.store(low, std::memory_order_relaxed);
  tableTotal_.store(static_cast<int64_t>(high) - low, std::memory_order_relaxed);
}

void ProgressSink::setProgressStep(int controlId, int32_t step) {
  if (controlId == kProgressBarControl) step_.store(step, std::memory_order_relaxed);
}

void ProgressSink::stepProgress(int controlId) {
  if (controlId == kProgressBarControl)
    position_.fetch_add(step_.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void ProgressSink::flush() {
  int32_t low = low_.load(std::memory_order_relaxed);
  int32_t high = high_.load(std::memory_order_relaxed);
  // An empty range would turn the bar into a busy indicator.
  if (high <= low) high = low + 1;
  int64_t position = std::clamp<int64_t>(position_.load(std::memory_order_relaxed), low, high);
  if (bar_->minimum() != low || bar_->maximum() != high) bar_->setRange(low, high);
  if (bar_->value() != position) bar_->setValue(static_cast<int>(position));

  std::string table, time;
  bool tableNew, timeNew;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tableNew = tableTextNew_;
    timeNew = timeTextNew_;
    if (tableNew) table = tableText_;
    if (timeNew) time = timeText_;
    tableTextNew_ = timeTextNew_ = false;
  }
  if (tableNew) tableLabel_->setText(QString::fromStdString(table));
  if (timeNew) timeLabel_->setText(QString::fromStdString(time));
}

void ProgressSink::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  auto message = std::make_shared<Message>();
  message->text = text;
  message->caption = caption;
  message->icon = icon;
  std::unique_lock<std::mutex> lock(mutex_);
  lastMessage_ = JobMessage{text, caption, icon};
  if (detached_) {
    lock.unlock();
    showMessageBox(nullptr, text, caption, icon);
    return;
  }
  messages_.push_back(message);
  QMetaObject::invokeMethod(owner_, [this] { showQueuedMessages(); }, Qt::QueuedConnection);
  messageDone_.wait(lock, [&] { return message->done || detached_; });
  if (!message->done) {
    // The wizard closed before the box could be shown: the message is not lost.
    lock.unlock();
    showMessageBox(nullptr, text, caption, icon);
  }
}

void ProgressSink::showQueuedMessages() {
  for (;;) {
    std::shared_ptr<Message> message;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (detached_ || messages_.empty()) return;
      message = messages_.front();
      messages_.pop_front();
    }
    QMessageBox::Icon icon = message->icon == MessageIcon::Error         ? QMessageBox::Critical
                             : message->icon == MessageIcon::Information ? QMessageBox::Information
                                                                         : QMessageBox::NoIcon;
    QString caption = message->caption.empty() ? owner_->window()->windowTitle() : QString::fromStdString(message->caption);
    // A failure's first line is the message; the lines after it (the file and the reason) are shown
    // under it, not hidden behind a button.
    const std::string& text = message->text;
    size_t lineEnd = text.find('\n');
    QMessageBox box(icon, caption, QString::fromStdString(text.substr(0, lineEnd)), QMessageBox::Ok, owner_);
    if (lineEnd != std::string::npos) box.setInformativeText(QString::fromStdString(text.substr(lineEnd + 1)));
    box.setObjectName(QStringLiteral("jobMessage"));
    box.exec();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      message->done = true;
    }
    messageDone_.notify_all();
  }
}

void ProgressSink::detach() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    detached_ = true;
    messages_.clear();
  }
  messageDone_.notify_all();
  holdChanged_.notify_all();
}

std::optional<ProgressSink::JobMessage> ProgressSink::lastMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastMessage_;
}

ProgressSink::TableAtWork ProgressSink::tableAtWork() {
  std::lock_guard<std::mutex> lock(mutex_);
  TableAtWork table;
  table.label = tableText_;
  table.total = tableTotal_.load(std::memory_order_relaxed);
  table.done = position_.load(std::memory_order_relaxed) - low_.load(std::memory_order_relaxed);
  return table;
}

void ProgressSink::repaint() {
  if (!holdAsked_.load(std::memory_order_acquire)) return;
  std::unique_lock<std::mutex> lock(mutex_);
  held_ = true;
  holdChanged_.notify_all();
  holdChanged_.wait(lock, [this] { return !holdAsked_.load() || detached_; });
  held_ = false;
}

bool ProgressSink::holdWorker(int milliseconds) {
  holdAsked_.store(true, std::memory_order_release);
  std::unique_lock<std::mutex> lock(mutex_);
  return holdChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return held_ || detached_; }) &&
         held_;
}

void ProgressSink::releaseWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAsked_.store(false);
  }
  holdChanged_.notify_all();
}
