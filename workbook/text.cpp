#include "workbook/text.h"

#include "platform/text_codec.h"

namespace {

// Lower case for the scripts whose sheet names Excel folds; other characters compare exactly.
char32_t fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string cleanUtf8(std::string_view text, size_t maxUnits) {
  std::string out;
  out.reserve(text.size() < 4096 ? text.size() : 4096);
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t len = decodeUtf8Char(text, i, cp);
    if (len == 0) { cp = 0xFFFD; len = 1; }
    size_t u = cp >= 0x10000 ? 2 : 1;
    if (units + u > maxUnits) break;
    units += u;
    if (len == 1 && cp == 0xFFFD) appendUtf8(out, cp);
    else out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

void cutValidUtf8(std::string& text, size_t maxUnits) {
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  if (text.size() <= maxUnits) return;  // a character never takes fewer bytes than UTF-16 units
  size_t units = 0, i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    size_t u = len == 4 ? 2 : 1;
    if (units + u > maxUnits) break;
    units += u;
    i += len;
  }
  text.resize(i < text.size() ? i : text.size());
}

std::vector<char32_t> codePoints(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = decodeUtf8Char(s, i, cp);
    if (len == 0) { cp = 0xFFFD; len = 1; }
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::u16string toUtf16(std::string_view s) { return utf8ToUtf16(s); }

size_t utf16Length(std::string_view s) {
  size_t n = 0;
  for (char32_t cp : codePoints(s)) n += cp >= 0x10000 ? 2 : 1;
  return n;
}

bool sheetNameAllowed(std::string_view name) {
  if (name.empty() || cleanUtf8(name, 1000) != name) return false;
  if (utf16Length(name) > kLongestSheetName) return false;
  if (name.front() == '\'' || name.back() == '\'') return false;
  for (char32_t c : codePoints(name))
    if (refusedInSheetName(c)) return false;
  return true;
}

bool refusedInSheetName(char32_t c) {
  // Control characters do not survive either file format's names.
  return c == ':' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '[' || c == ']' || c < 0x20;
}

bool sameSheetName(std::string_view a, std::string_view b) {
  auto x = codePoints(a), y = codePoints(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (fold(x[i]) != fold(y[i])) return false;
  return true;
}
