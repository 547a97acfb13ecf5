// The text functions and Access's &, counting characters (not bytes) as VBA does. Where a
// comparison may ignore case, a query's default is Access's text comparison.
#include <string>

#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

// Windows-1252's characters at 0x80..0x9F, which Chr and Asc use; the rest equal Latin-1.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr int kBinaryCompare = 0;

std::u32string textArgument(const Call& call, int i) { return decode(toText(call.name, call[i])); }

// The compare argument: 0 binary, 1 text, 2 the database's (text), -1 the module's (text).
bool binaryCompare(const Call& call, int i) {
  if (!call.has(i)) return false;
  if (isNull(call[i])) failInvalidUseOfNull(call.name);
  int64_t compare = toWhole(call.name, call[i]);
  if (compare < -1 || compare > 2) failInvalidArgument(call.name, call[i]);
  return compare == kBinaryCompare;
}

// StrConv's conversions of letter case.
constexpr int64_t kStrConvUpper = 1, kStrConvLower = 2, kStrConvProper = 3;

std::u32string folded(std::u32string text) {
  for (char32_t& c : text) c = foldCase(c);
  return text;
}

// A count or position argument: a whole number within a Long, Null failing.
int64_t countArgument(const Call& call, int i, int64_t low) {
  if (isNull(call[i])) failInvalidUseOfNull(call.name);
  int64_t n = toWhole(call.name, call[i]);
  if (n < low) failInvalidArgument(call.name, call[i]);
  return n;
}

// 0-based position of `what` in `in` at or after `from`, or npos.
size_t find(const std::u32string& in, const std::u32string& what, size_t from, bool binary) {
  if (binary) return in.find(what, from);
  return folded(in).find(folded(what), from);
}

void resultCodePoints(const Call& call, std::u32string_view text) {
  resultText(call.context, encode(text));
}

std::u32string trimmed(std::u32string text, bool left, bool right) {
  size_t begin = 0, end = text.size();
  if (left)
    while (begin < end && text[begin] == U' ') ++begin;
  if (right)
    while (end > begin && text[end - 1] == U' ') --end;
  return text.substr(begin, end - begin);
}

}  // namespace

void fnLeft(const Call& call) {
  int64_t n = countArgument(call, 1, 0);
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  std::u32string text = textArgument(call, 0);
  resultCodePoints(call, std::u32string_view(text).substr(0, static_cast<size_t>(n)));
}

void fnRight(const Call& call) {
  int64_t n = countArgument(call, 1, 0);
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  std::u32string text = textArgument(call, 0);
  size_t keep = std::min(text.size(), static_cast<size_t>(n));
  resultCodePoints(call, std::u32string_view(text).substr(text.size() - keep));
}

void fnMid(const Call& call) {
  int64_t start = countArgument(call, 1, 1);
  int64_t length = call.has(2) ? countArgument(call, 2, 0) : INT64_MAX;
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  std::u32string text = textArgument(call, 0);
  if (static_cast<size_t>(start) > text.size()) return resultText(call.context, "");
  resultCodePoints(call, std::u32string_view(text).substr(start - 1, static_cast<size_t>(length)));
}

void fnLen(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int64(call.context, static_cast<int64_t>(textArgument(call, 0).size()));
}

// InStr([start, ]string1, string2[, compare]).
void fnInStr(const Call& call) {
  int first = call.argc >= 3 ? 1 : 0;
  int64_t start = first ? countArgument(call, 0, 1) : 1;
  if (isNull(call[first]) || isNull(call[first + 1])) return sqlite3_result_null(call.context);
  std::u32string in = textArgument(call, first), what = textArgument(call, first + 1);
  bool binary = binaryCompare(call, 3);
  if (static_cast<size_t>(start) > in.size()) return sqlite3_result_int(call.context, 0);
  if (what.empty()) return sqlite3_result_int64(call.context, start);
  size_t at = find(in, what, static_cast<size_t>(start - 1), binary);
  sqlite3_result_int64(call.context, at == std::u32string::npos ? 0 : static_cast<int64_t>(at) + 1);
}

// InStrRev(stringcheck, stringmatch[, start[, compare]]): the last match ending by start.
void fnInStrRev(const Call& call) {
  int64_t start = call.has(2) ? countArgument(call, 2, -1) : -1;
  if (start == 0) failInvalidArgument(call.name, call[2]);
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  std::u32string in = textArgument(call, 0), what = textArgument(call, 1);
  bool binary = binaryCompare(call, 3);
  if (start == -1) start = static_cast<int64_t>(in.size());
  if (in.empty() || static_cast<size_t>(start) > in.size())
    return sqlite3_result_int(call.context, 0);
  if (what.empty()) return sqlite3_result_int64(call.context, start);
  if (what.size() > static_cast<size_t>(start)) return sqlite3_result_int(call.context, 0);
  std::u32string a = binary ? in : folded(in), b = binary ? what : folded(what);
  size_t at = a.rfind(b, static_cast<size_t>(start) - what.size());
  sqlite3_result_int64(call.context, at == std::u32string::npos ? 0 : static_cast<int64_t>(at) + 1);
}

void fnUCase(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  std::u32string text = textArgument(call, 0);
  for (char32_t& c : text) c = upperCase(c);
  resultCodePoints(call, text);
}

void fnLCase(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultCodePoints(call, folded(textArgument(call, 0)));
}

// StrConv(string, conversion): upper case (1), lower case (2), each word's first letter upper and
// the rest lower (3); the conversions of wide, narrow and code-page forms change no Unicode text.
void fnStrConv(const Call& call) {
  int64_t conversion = countArgument(call, 1, 0);
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  std::u32string text = textArgument(call, 0);
  const int64_t kind = conversion & (kStrConvUpper | kStrConvLower);
  bool wordStart = true;
  for (char32_t& c : text) {
    if (kind == kStrConvUpper) c = upperCase(c);
    else if (kind == kStrConvLower) c = foldCase(c);
    else if (kind == kStrConvProper) c = wordStart ? upperCase(c) : foldCase(c);
    wordStart = c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\0';
  }
  resultCodePoints(call, text);
}

// The user Access runs as when the database has no user-level security: the only one here.
void fnCurrentUser(const Call& call) { resultText(call.context, "Admin"); }

void fnTrim(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultCodePoints(call, trimmed(textArgument(call, 0), true, true));
}

void fnLTrim(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultCodePoints(call, trimmed(textArgument(call, 0), true, false));
}

void fnRTrim(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultCodePoints(call, trimmed(textArgument(call, 0), false, true));
}

namespace {

// The longest text Space and String make: past it a query is asking for memory, not text.
constexpr int64_t kLongestMadeText = int64_t{1} << 26;

int64_t madeLength(const Call& call) {
  int64_t n = countArgument(call, 0, 0);
  if (n > kLongestMadeText)
    throw FunctionError{std::string(call.name) + ": out of string space: " + describe(call[0])};
  return n;
}

}  // namespace

void fnSpace(const Call& call) {
  int64_t n = madeLength(call);
  resultText(call.context, std::string(static_cast<size_t>(n), ' '));
}

// String(number, character): the character a code (Mod 256) or a text's first character.
void fnString(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  int64_t n = madeLength(call);
  char32_t c = 0;
  if (isText(call[1])) {
    std::u32string text = decode(textOf(call[1]));
    if (text.empty()) failInvalidArgument(call.name, call[1]);
    c = text[0];
  } else {
    int64_t code = toWhole(call.name, call[1]) % 256;
    if (code < 0) code += 256;
    c = code >= 0x80 && code < 0xA0 ? kWindows1252High[code - 0x80] : static_cast<char32_t>(code);
  }
  resultCodePoints(call, std::u32string(static_cast<size_t>(n), c));
}

// Replace(expression, find, replace[, start[, count[, compare]]]): the text from start on, with
// up to count matches replaced.
void fnReplace(const Call& call) {
  for (int i = 0; i < 3; ++i) {
    if (isNull(call[i])) failInvalidUseOfNull(call.name);
  }
  std::u32string in = textArgument(call, 0), what = textArgument(call, 1),
                 with = textArgument(call, 2);
  int64_t start = call.has(3) ? countArgument(call, 3, 1) : 1;
  int64_t count = call.has(4) ? countArgument(call, 4, -1) : -1;
  bool binary = binaryCompare(call, 5);
  if (static_cast<size_t>(start) > in.size()) return resultText(call.context, "");
  in.erase(0, static_cast<size_t>(start - 1));
  if (what.empty() || count == 0) return resultCodePoints(call, in);
  std::u32string search = binary ? in : folded(in), key = binary ? what : folded(what);
  std::u32string out;
  size_t from = 0;
  for (int64_t done = 0; count < 0 || done < count; ++done) {
    size_t at = search.find(key, from);
    if (at == std::u32string::npos) break;
    out.append(in, from, at - from);
    out += with;
    from = at + what.size();
  }
  out.append(in, from, std::u32string::npos);
  resultCodePoints(call, out);
}

void fnStrReverse(const Call& call) {
  std::u32string text = textArgument(call, 0);
  resultCodePoints(call, std::u32string(text.rbegin(), text.rend()));
}

void fnStrComp(const Call& call) {
  bool binary = binaryCompare(call, 2);
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  std::string a = toText(call.name, call[0]), b = toText(call.name, call[1]);
  int order = binary ? compareTextsBinary(a, b) : compareTexts(a, b);
  sqlite3_result_int(call.context, order < 0 ? -1 : order > 0 ? 1 : 0);
}

void fnAsc(const Call& call) {
  std::u32string text = textArgument(call, 0);
  if (text.empty()) failInvalidArgument(call.name, call[0]);
  char32_t c = text[0];
  int code = c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? static_cast<int>(c) : '?';
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252High[i] == c) code = 0x80 + i;
  }
  sqlite3_result_int(call.context, code);
}

void fnAscW(const Call& call) {
  std::u32string text = textArgument(call, 0);
  if (text.empty()) failInvalidArgument(call.name, call[0]);
  sqlite3_result_int(call.context, static_cast<int16_t>(text[0] > 0xFFFF ? 0xFFFD : text[0]));
}

void fnChr(const Call& call) {
  int64_t code = countArgument(call, 0, 0);
  if (code > 255) failInvalidArgument(call.name, call[0]);
  char32_t c =
      code >= 0x80 && code < 0xA0 ? kWindows1252High[code - 0x80] : static_cast<char32_t>(code);
  resultCodePoints(call, std::u32string(1, c));
}

void fnChrW(const Call& call) {
  int64_t code = countArgument(call, 0, -32768);
  if (code > 65535) failInvalidArgument(call.name, call[0]);
  resultCodePoints(call, std::u32string(1, static_cast<char32_t>(code < 0 ? code + 65536 : code)));
}

// Access's &: Null counts as "", and only two Nulls give Null.
void opConcatenate(const Call& call) {
  if (isNull(call[0]) && isNull(call[1])) return sqlite3_result_null(call.context);
  std::string out = isNull(call[0]) ? std::string() : toText(call.name, call[0]);
  if (!isNull(call[1])) out += toText(call.name, call[1]);
  resultText(call.context, out);
}

void fnDateText(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  if (isText(call[0])) return sqlite3_result_value(call.context, call[0]);
  resultText(call.context, generalDateText(toDate(call.name, call[0])));
}

}  // namespace access_sql
