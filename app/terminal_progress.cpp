#include "app/terminal_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace {

constexpr size_t kColumnsWhenUnknown = 80;
constexpr const char* kEllipsis = "...";
constexpr const char* kTableLabelArrow = " -> ";  // the job's table label: "TABLE -> WORKBOOK"

// One character as it goes to the terminal, and the columns it takes there.
struct Glyph {
  std::string bytes;
  size_t columns;
};

size_t terminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kColumnsWhenUnknown;
}

// East Asian wide characters take two columns; everything else kept takes one.
bool isWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Names come from files and databases: control characters (C0 and C1) and bytes that are no UTF-8
// become "?", so that nothing in a name can move the cursor or talk to the terminal.
std::vector<Glyph> glyphsOf(const std::string& text) {
  std::vector<Glyph> glyphs;
  for (size_t at = 0; at < text.size();) {
    char32_t code = 0;
    size_t length = decodeUtf8Char(text, at, code);
    if (length == 0 || code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      glyphs.push_back({"?", 1});
      at += length == 0 ? 1 : length;
      continue;
    }
    glyphs.push_back({text.substr(at, length), isWide(code) ? 2u : 1u});
    at += length;
  }
  return glyphs;
}

size_t columnsOf(const std::vector<Glyph>& glyphs) {
  size_t columns = 0;
  for (const Glyph& glyph : glyphs) columns += glyph.columns;
  return columns;
}

// The glyphs that fit into `room` columns, from the front (or from the back).
std::string fitted(const std::vector<Glyph>& glyphs, size_t room, bool fromBack) {
  std::vector<const Glyph*> kept;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const Glyph& glyph = glyphs[fromBack ? glyphs.size() - 1 - i : i];
    if (glyph.columns > room) break;
    room -= glyph.columns;
    kept.push_back(&glyph);
  }
  if (fromBack) std::reverse(kept.begin(), kept.end());
  std::string text;
  for (const Glyph* glyph : kept) text += glyph->bytes;
  return text;
}

// The line in `room` columns: the counts and times at the end stay whole as long as they fit; the
// database and table in front lose their beginning first.
std::string fitLine(const std::string& head, const std::string& tail, size_t room, size_t* columns) {
  std::vector<Glyph> front = glyphsOf(head);
  std::vector<Glyph> back = glyphsOf(tail);
  size_t frontColumns = columnsOf(front), backColumns = columnsOf(back);
  const size_t ellipsis = std::char_traits<char>::length(kEllipsis);
  std::string line;
  if (frontColumns + backColumns <= room) {
    line = fitted(front, room, false) + fitted(back, room, false);
  } else if (backColumns + ellipsis < room) {
    line = kEllipsis + fitted(front, room - backColumns - ellipsis, true) + fitted(back, room, false);
  } else {
    front.insert(front.end(), back.begin(), back.end());
    line = fitted(front, room, false);
  }
  *columns = columnsOf(glyphsOf(line));
  return line;
}

void writeToTerminal(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

TerminalProgress::TerminalProgress(const ConversionOptions* options) : options_(options) {}

TerminalProgress::~TerminalProgress() { clear(); }

void TerminalProgress::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  clear();
  showMessageBox(nullptr, text, caption, icon);
}

void TerminalProgress::showNote(const std::string& line) {
  clear();
  ::showNote(nullptr, line);
}

void TerminalProgress::setControlText(int controlId, const std::string& text) {
  if (controlId == kTableLabelControl) {
    const std::string arrowAndBook = kTableLabelArrow + options_->outputPath;
    bool namesBook = text.size() >= arrowAndBook.size() &&
                     text.compare(text.size() - arrowAndBook.size(), arrowAndBook.size(), arrowAndBook) == 0;
    table_ = namesBook ? text.substr(0, text.size() - arrowAndBook.size()) : text;
    // A new table: its counts and times are still to come.
    times_.clear();
    rangeKnown_ = false;
  } else if (controlId == kTimeTextControl) {
    // "Elapsed time:\t00:00:03\nEstimated time:\t00:00:10" on one line.
    times_.clear();
    for (char c : text) times_ += c == '\t' ? std::string(" ") : c == '\n' ? std::string("  ") : std::string(1, c);
  } else {
    return;
  }
  draw();
}

void TerminalProgress::setProgressRange(int controlId, int32_t low, int32_t high) {
  if (controlId != kProgressBarControl) return;
  low_ = low;
  high_ = std::max(low, high);
  position_ = low;
  rangeKnown_ = true;
  draw();
}

void TerminalProgress::setProgressStep(int controlId, int32_t step) {
  if (controlId == kProgressBarControl) step_ = step;
}

void TerminalProgress::stepProgress(int controlId) {
  if (controlId != kProgressBarControl) return;
  position_ += step_;
  // The count is redrawn once a second, like the times.
  if (std::time(nullptr) != drawnAt_) draw();
}

void TerminalProgress::draw() {
  drawnAt_ = std::time(nullptr);
  std::string head = fileNameOf(options_->sourcePath) + ": " + table_;
  std::string tail;
  if (rangeKnown_)
    tail = " " + std::to_string(std::clamp(position_, low_, high_) - low_) + " of " + std::to_string(high_ - low_);
  if (!times_.empty()) tail += "  " + times_;
  size_t columns = 0;
  // The last column stays free: a character there makes some terminals wrap the line.
  std::string line = fitLine(head, tail, terminalColumns() - 1, &columns);
  // Spaces cover what the last line showed beyond this one.
  std::string text = "\r" + line;
  if (shownColumns_ > columns) text += std::string(shownColumns_ - columns, ' ');
  writeToTerminal(text);
  shownColumns_ = columns;
}

void TerminalProgress::clear() {
  if (shownColumns_ == 0) return;
  writeToTerminal("\r" + std::string(shownColumns_, ' ') + "\r");
  shownColumns_ = 0;
}
