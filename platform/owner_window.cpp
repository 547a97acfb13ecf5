#include "platform/owner_window.h"

#include <cstdio>

void showMessageBox(OwnerWindow* owner, const std::string& text, const std::string& caption, MessageIcon icon) {
  if (owner) {
    owner->showMessage(text, caption, icon);
    return;
  }
  std::string line = "Error: " + text;
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void showNote(OwnerWindow* owner, const std::string& line) {
  if (owner) {
    owner->showNote(line);
    return;
  }
  std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void showFailure(OwnerWindow* owner, const std::string& message, const std::string& fileAndReason) {
  showMessageBox(owner, fileAndReason.empty() ? message : message + "\n" + fileAndReason, "Error", MessageIcon::Error);
}
