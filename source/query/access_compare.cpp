// Access's text order (its "General" sort: letter case ignored, an accented letter right after
// its plain one, hyphens and apostrophes ignored but for ties, punctuation before digits before
// letters), the comparison operators built on it, and Like.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

// The plain letter under each of U+00C0..U+00FF and U+0100..U+017F; '*' for the ones with
// their own rule (ligatures, thorn, the multiplication and division signs).
constexpr std::string_view kLatin1Letters =
    "aaaaaa*ceeeeiiiidnooooo*ouuuuy**aaaaaa*ceeeeiiiidnooooo*ouuuuy*y";
constexpr std::string_view kLatinExtendedLetters =
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkkllllllllllnnnnnnnnnoooooo**rrrrrrss"
    "ssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";

// Weights of the first level: punctuation and symbols, then digits, then letters, then the
// letters of other scripts.
constexpr uint32_t kPunctuationBase = 0x100;
constexpr uint32_t kDigitBase = 0x20000;
constexpr uint32_t kLetterBase = 0x20100;
constexpr uint32_t kOtherScriptBase = 0x30000;

uint32_t letterWeight(char letter) { return kLetterBase + static_cast<uint32_t>(letter - 'a') * 2; }

bool isIgnorable(char32_t c) { return c == U'-' || c == U'\'' || c == 0xAD || c == 0x2019; }

// One character's keys: up to two first-level weights (a ligature expands) and the second-level
// weight (0 for a plain letter, the accented letter's own code otherwise).
int keysOf(char32_t c, uint32_t primary[2], uint32_t& secondary) {
  secondary = 0;
  if (c < 0x80) {
    if (c >= 'A' && c <= 'Z') c += 32;
    if (c >= 'a' && c <= 'z') {
      primary[0] = letterWeight(static_cast<char>(c));
    } else if (c >= '0' && c <= '9') {
      primary[0] = kDigitBase + (c - '0');
    } else {
      primary[0] = kPunctuationBase + c;
    }
    return 1;
  }
  char32_t lower = foldCase(c);
  char base = 0;
  if (lower >= 0xC0 && lower <= 0xFF)
    base = kLatin1Letters[lower - 0xC0];
  else if (lower >= 0x100 && lower <= 0x17F)
    base = kLatinExtendedLetters[lower - 0x100];
  if (base != 0 && base != '*') {
    primary[0] = letterWeight(base);
    secondary = lower;
    return 1;
  }
  secondary = lower;
  switch (lower) {
    case 0xE6:
      primary[0] = letterWeight('a');
      primary[1] = letterWeight('e');
      return 2;  // æ
    case 0x153:
      primary[0] = letterWeight('o');
      primary[1] = letterWeight('e');
      return 2;  // œ
    case 0xDF:
      primary[0] = letterWeight('s');
      primary[1] = letterWeight('s');
      return 2;  // ß
    case 0xFE:
      primary[0] = letterWeight('z') + 1;
      return 1;  // þ
    default:
      break;
  }
  secondary = 0;
  bool symbol = c < 0xC0 || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF) ||
                (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFF0F);
  primary[0] = symbol ? kPunctuationBase + c : kOtherScriptBase + lower;
  return 1;
}

// Reads a UTF-8 text one character at a time.
struct Utf8Reader {
  std::string_view text;
  size_t at = 0;
  bool next(char32_t& c) {
    if (at >= text.size()) return false;
    auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      c = byte;
      ++at;
      return true;
    }
    int length = (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > text.size()) {
      c = byte;
      ++at;
      return true;
    }
    c = byte & (0x7F >> length);
    for (int k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    at += length;
    return true;
  }
};

// The first-level weights of a text in order, skipping the ignorable characters; the first
// second-level weight that differs and the count of ignorables decide ties.
struct KeyReader {
  Utf8Reader reader;
  uint32_t pending[2] = {};
  int pendingCount = 0, pendingAt = 0;
  uint32_t secondary = 0;
  int ignorables = 0;
  bool next(uint32_t& primary, uint32_t& secondaryOut) {
    while (pendingAt >= pendingCount) {
      char32_t c = 0;
      if (!reader.next(c)) return false;
      if (isIgnorable(c)) {
        ++ignorables;
        continue;
      }
      pendingCount = keysOf(c, pending, secondary);
      pendingAt = 0;
    }
    primary = pending[pendingAt++];
    secondaryOut = secondary;
    return true;
  }
};

int sign(int64_t x) { return x < 0 ? -1 : x > 0 ? 1 : 0; }

bool bothNumbers(sqlite3_value* a, sqlite3_value* b) {
  int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
  return (ta == SQLITE_INTEGER || ta == SQLITE_FLOAT) &&
         (tb == SQLITE_INTEGER || tb == SQLITE_FLOAT);
}

int compareNumbers(sqlite3_value* a, sqlite3_value* b) {
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    int64_t x = sqlite3_value_int64(a), y = sqlite3_value_int64(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// A number, or a text that reads as a number or else as a date (a Date/Time value meets
// "1/5/2004").
double numberOrDate(const Call& call, sqlite3_value* value) {
  if (!isText(value)) return toNumber(call.name, value);
  if (auto number = parseNumber(textOf(value))) return *number;
  if (auto date = parseDate(textOf(value))) return *date;
  failTypeMismatch(call.name, value);
}

// The comparison operators: Null gives Null; a number meets a text as the number (or date) the text
// reads as, and a text that reads as none is a type mismatch, as in Access's criteria.
void compareOperator(const Call& call, bool (*holds)(int)) {
  sqlite3_value *a = call[0], *b = call[1];
  if (isNull(a) || isNull(b)) return sqlite3_result_null(call.context);
  int order = 0;
  if (bothNumbers(a, b)) {
    order = compareNumbers(a, b);
  } else if (isText(a) && isText(b)) {
    order = compareTexts(textOf(a), textOf(b));
  } else if (isText(a) != isText(b) && sqlite3_value_type(a) != SQLITE_BLOB &&
             sqlite3_value_type(b) != SQLITE_BLOB) {
    double x = numberOrDate(call, a), y = numberOrDate(call, b);
    order = x < y ? -1 : x > y ? 1 : 0;
  } else {
    order = compareValues(a, b);
  }
  resultBool(call.context, holds(order));
}

// Like's pattern, parsed into single-character tests and runs (*).
struct PatternToken {
  enum Kind { Literal, AnyOne, Digit, Run, Set } kind;
  char32_t c = 0;
  explicit PatternToken(Kind k, char32_t ch = 0) : kind(k), c(ch) {}
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
};

std::vector<PatternToken> parsePattern(const Call& call, const std::u32string& pattern) {
  std::vector<PatternToken> tokens;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char32_t c = pattern[i];
    if (c == U'*') {
      if (tokens.empty() || tokens.back().kind != PatternToken::Run)
        tokens.emplace_back(PatternToken::Run);
    } else if (c == U'?') {
      tokens.emplace_back(PatternToken::AnyOne);
    } else if (c == U'#') {
      tokens.emplace_back(PatternToken::Digit);
    } else if (c == U'[') {
      size_t close = pattern.find(U']', i + 1);
      if (close == std::u32string::npos)
        throw FunctionError{std::string(call.name) +
                            ": pattern has an unclosed [: " + describe(call[1])};
      PatternToken set(PatternToken::Set);
      size_t j = i + 1;
      if (j < close && pattern[j] == U'!') {
        set.negated = true;
        ++j;
      }
      for (; j < close; ++j) {
        if (j + 2 < close && pattern[j + 1] == U'-') {
          set.ranges.emplace_back(pattern[j], pattern[j + 2]);
          j += 2;
        } else {
          set.ranges.emplace_back(pattern[j], pattern[j]);
        }
      }
      if (set.ranges.empty() && !set.negated) {
        i = close;  // "[]" matches no character at all: it stands for nothing
        continue;
      }
      tokens.push_back(std::move(set));
      i = close;
    } else {
      tokens.emplace_back(PatternToken::Literal, foldCase(c));
    }
  }
  return tokens;
}

// The order of single characters that a [a-z] range uses: the collation's.
int compareCharacters(char32_t a, char32_t b) {
  char32_t x[2] = {a, 0}, y[2] = {b, 0};
  return compareTexts(encode(std::u32string_view(x, 1)), encode(std::u32string_view(y, 1)));
}

bool matchesOne(const PatternToken& token, char32_t c) {
  switch (token.kind) {
    case PatternToken::Literal:
      return foldCase(c) == token.c;
    case PatternToken::AnyOne:
      return true;
    case PatternToken::Digit:
      return c >= U'0' && c <= U'9';
    case PatternToken::Set: {
      bool in = false;
      for (auto [low, high] : token.ranges) {
        if (low == high ? foldCase(c) == foldCase(low)
                        : compareCharacters(low, c) <= 0 && compareCharacters(c, high) <= 0) {
          in = true;
          break;
        }
      }
      return in != token.negated;
    }
    case PatternToken::Run:
      return false;
  }
  return false;
}

bool matches(const std::vector<PatternToken>& tokens, const std::u32string& text) {
  size_t t = 0, p = 0;
  size_t starToken = SIZE_MAX, starText = 0;
  while (t < text.size()) {
    if (p < tokens.size() && tokens[p].kind == PatternToken::Run) {
      starToken = p++;
      starText = t;
    } else if (p < tokens.size() && matchesOne(tokens[p], text[t])) {
      ++p;
      ++t;
    } else if (starToken != SIZE_MAX) {
      p = starToken + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < tokens.size() && tokens[p].kind == PatternToken::Run) ++p;
  return p == tokens.size();
}

}  // namespace

int compareTexts(std::string_view a, std::string_view b) {
  KeyReader x{{a}}, y{{b}};
  int secondaryOrder = 0;
  for (;;) {
    uint32_t px = 0, sx = 0, py = 0, sy = 0;
    bool hx = x.next(px, sx), hy = y.next(py, sy);
    if (!hx || !hy) {
      if (hx != hy) return hx ? 1 : -1;
      break;
    }
    if (px != py) return px < py ? -1 : 1;
    if (secondaryOrder == 0 && sx != sy) secondaryOrder = sx < sy ? -1 : 1;
  }
  if (secondaryOrder != 0) return secondaryOrder;
  if (x.ignorables != y.ignorables) return x.ignorables < y.ignorables ? -1 : 1;
  if (x.ignorables == 0) return 0;
  // "co-op" and "co'op": the ignorables themselves decide, letter case still ignored.
  std::u32string fa = decode(a), fb = decode(b);
  for (char32_t& c : fa) c = foldCase(c);
  for (char32_t& c : fb) c = foldCase(c);
  return fa < fb ? -1 : fa > fb ? 1 : 0;
}

int compareTextsBinary(std::string_view a, std::string_view b) { return sign(a.compare(b)); }

int collate(void*, int aLength, const void* a, int bLength, const void* b) {
  return compareTexts(std::string_view(static_cast<const char*>(a), static_cast<size_t>(aLength)),
                      std::string_view(static_cast<const char*>(b), static_cast<size_t>(bLength)));
}

int compareValues(sqlite3_value* a, sqlite3_value* b) {
  auto rank = [](sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
      case SQLITE_NULL:
        return 0;
      case SQLITE_INTEGER:
      case SQLITE_FLOAT:
        return 1;
      case SQLITE_TEXT:
        return 2;
      default:
        return 3;
    }
  };
  int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case 0:
      return 0;
    case 1:
      return compareNumbers(a, b);
    case 2:
      return compareTexts(textOf(a), textOf(b));
    default: {
      int na = sqlite3_value_bytes(a), nb = sqlite3_value_bytes(b);
      int order = std::memcmp(sqlite3_value_blob(a), sqlite3_value_blob(b), std::min(na, nb));
      return order != 0 ? sign(order) : sign(na - nb);
    }
  }
}

void opLike(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  // The pattern is parsed once per statement when it is a constant.
  using Tokens = std::vector<PatternToken>;
  std::u32string text = decode(toText(call.name, call[0]));
  if (const auto* cached = static_cast<const Tokens*>(sqlite3_get_auxdata(call.context, 1)))
    return resultBool(call.context, matches(*cached, text));
  auto parsed = std::make_unique<Tokens>(parsePattern(call, decode(toText(call.name, call[1]))));
  resultBool(call.context, matches(*parsed, text));
  sqlite3_set_auxdata(call.context, 1, parsed.release(),
                      [](void* p) { delete static_cast<Tokens*>(p); });
}

void opEqual(const Call& call) {
  compareOperator(call, [](int o) { return o == 0; });
}
void opNotEqual(const Call& call) {
  compareOperator(call, [](int o) { return o != 0; });
}
void opLess(const Call& call) {
  compareOperator(call, [](int o) { return o < 0; });
}
void opLessOrEqual(const Call& call) {
  compareOperator(call, [](int o) { return o <= 0; });
}
void opGreater(const Call& call) {
  compareOperator(call, [](int o) { return o > 0; });
}
void opGreaterOrEqual(const Call& call) {
  compareOperator(call, [](int o) { return o >= 0; });
}

}  // namespace access_sql
