#include "workbook/text.h"

#include "platform/text.h"

namespace {

// Decodes one character at s[i]; returns its length, or 0 for an invalid sequence.
size_t decodeOne(std::string_view s, size_t i, char32_t& cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) { cp = c; return 1; }
  size_t len;
  char32_t min;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}


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
    size_t len = decodeOne(text, i, cp);
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
    size_t len = decodeOne(s, i, cp);
    if (len == 0) { cp = 0xFFFD; len = 1; }
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::u16string toUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char32_t cp : codePoints(s)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

size_t utf16Length(std::string_view s) {
  size_t n = 0;
  for (char32_t cp : codePoints(s)) n += cp >= 0x10000 ? 2 : 1;
  return n;
}

bool sheetNameAllowed(std::string_view name) {
  if (name.empty() || cleanUtf8(name, 1000) != name) return false;
  if (utf16Length(name) > 31) return false;
  if (name.front() == '\'' || name.back() == '\'') return false;
  for (char32_t c : codePoints(name)) {
    if (c == ':' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '[' || c == ']')
      return false;
    if (c < 0x20) return false;  // control characters do not survive either file format's names
  }
  return true;
}

bool sameSheetName(std::string_view a, std::string_view b) {
  auto x = codePoints(a), y = codePoints(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (fold(x[i]) != fold(y[i])) return false;
  return true;
}
