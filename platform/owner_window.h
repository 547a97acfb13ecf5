// The window a job reports to: the wizard's progress page, the progress line of an unattended run
// on a terminal, or none (other unattended runs, the libraries). Without a window a message box
// becomes one line on standard error and never waits.
#pragma once

#include <cstdint>
#include <string>

enum class MessageIcon { None, Error, Information };

// Control ids of the progress page that a job drives.
inline constexpr int kProgressBarControl = 1016;
inline constexpr int kTableLabelControl = 1021;
inline constexpr int kTimeTextControl = 1022;

class OwnerWindow {
 public:
  virtual ~OwnerWindow() = default;
  // A message box with an OK button; an empty caption means the default one.
  virtual void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
  virtual void setControlText(int controlId, const std::string& text) = 0;
  virtual void setProgressRange(int controlId, int32_t low, int32_t high) = 0;
  virtual void setProgressStep(int controlId, int32_t step) = 0;
  virtual void stepProgress(int controlId) = 0;
  virtual void repaint() = 0;
  // A line of information for a reader of standard error; windows have no place for it.
  virtual void showNote(const std::string& /*line*/) {}
};

// Shows the message in the owner's box, or prints "Error: " and the text on standard error. A
// text of several lines is a message (its first line) with its details (the rest).
void showMessageBox(OwnerWindow* owner, const std::string& text, const std::string& caption, MessageIcon icon);

// A line of information ("Note: ...") on standard error, or through the owner, which may drop it.
void showNote(OwnerWindow* owner, const std::string& line);

// A failure on a file: the message, then a line naming the file and the reason ("FILE: REASON"),
// in an "Error" box.
void showFailure(OwnerWindow* owner, const std::string& message, const std::string& fileAndReason);

// A line that a message without a window writes on standard error ("\n" added when missing); it
// is also kept where a MessagesKept of this thread asks.
void writeMessageLine(const std::string& line);

// While one lives on a thread, the lines that this thread's messages without a window write are
// also appended to `into` (the libraries keep a call's messages for their caller).
class MessagesKept {
 public:
  explicit MessagesKept(std::string& into);
  ~MessagesKept();
  MessagesKept(const MessagesKept&) = delete;
  MessagesKept& operator=(const MessagesKept&) = delete;

 private:
  std::string* previous_;
};
