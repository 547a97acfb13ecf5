#include "platform/owner_window.h"

#include <cstdio>

namespace {
thread_local std::string* keptMessages = nullptr;
}  // namespace

MessagesKept::MessagesKept(std::string& into) : previous_(keptMessages) { keptMessages = &into; }
MessagesKept::~MessagesKept() { keptMessages = previous_; }

void writeMessageLine(const std::string& line) {
  std::string text = line;
  if (text.empty() || text.back() != '\n') text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (keptMessages) *keptMessages += text;
}

void showMessageBox(OwnerWindow* owner, const std::string& text, const std::string& caption, MessageIcon icon) {
  if (owner) {
    owner->showMessage(text, caption, icon);
    return;
  }
  writeMessageLine("Error: " + text);
}

void showNote(OwnerWindow* owner, const std::string& line) {
  if (owner) {
    owner->showNote(line);
    return;
  }
  writeMessageLine(line + "\n");
}

void showFailure(OwnerWindow* owner, const std::string& message, const std::string& fileAndReason) {
  showMessageBox(owner, fileAndReason.empty() ? message : message + "\n" + fileAndReason, "Error", MessageIcon::Error);
}
