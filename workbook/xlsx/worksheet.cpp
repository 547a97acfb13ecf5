#include "workbook/xlsx/worksheet.h"

#include <charconv>
#include <cmath>
#include <cctype>
#include <cstring>
#include <memory>
#include <string_view>

#include <expat.h>

#include "workbook/text.h"
#include "workbook/xlsx/parts.h"

namespace xlsx {

void appendColumnName(std::string& out, int col) {
  char buf[8];
  int n = 0;
  for (int c = col + 1; c > 0; c = (c - 1) / 26) buf[n++] = static_cast<char>('A' + (c - 1) % 26);
  while (n) out += buf[--n];
}

static void appendInt(std::string& out, long long v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Below 2^53 every whole number is a double of its own, and its shortest form has at most 16
// digits, so the exponent in the exponent form has two digits.
constexpr double kExactIntegerLimit = 9007199254740992.0;

void appendNumber(std::string& out, double value) {
  if (value == 0 && std::signbit(value)) {
    out += "-0.0";  // keeps the sign for readers that tell -0.0 from 0
    return;
  }
  // Whole numbers (most cells) as integers, which is much cheaper than the shortest form of a
  // double, whenever that form would be the same digits: the shortest form is the plain one
  // unless the exponent form ("1e+06") is shorter.
  if (value >= -kExactIntegerLimit && value <= kExactIntegerLimit && value == std::trunc(value)) {
    char digits[24];
    long long whole = static_cast<long long>(value);
    char* end = std::to_chars(digits, digits + sizeof digits, whole < 0 ? -whole : whole).ptr;
    size_t length = static_cast<size_t>(end - digits);
    size_t zeros = 0;
    while (zeros + 1 < length && digits[length - 1 - zeros] == '0') ++zeros;
    size_t mantissa = length - zeros;
    size_t exponentForm = mantissa + (mantissa > 1 ? 1 : 0) + 4;  // "d.ddde+XX"
    if (length <= exponentForm) {
      if (whole < 0) out += '-';
      out.append(digits, length);
      return;
    }
  }
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

static void appendHexEscape(std::string& out, unsigned v) {
  static const char hex[] = "0123456789ABCDEF";
  out += "_x";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(v >> shift) & 0xF];
  out += '_';
}

// Bytes that appendEscapedText writes as they are.
static bool plainTextByte(unsigned char c) {
  return c >= 0x20 && c != '&' && c != '<' && c != '>' && c != '_' && c != 0xEF;
}

void appendEscapedText(std::string& out, const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    // Runs of ordinary characters (nearly all of a text) go in one piece.
    size_t run = i;
    while (run < s.size() && plainTextByte(static_cast<unsigned char>(s[run]))) ++run;
    if (run > i) {
      out.append(s, i, run - i);
      i = run;
      if (i == s.size()) break;
    }
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\t': case '\n': out += static_cast<char>(c); break;
      case '_':
        // A literal "_xHHHH_" would read back as an escape: escape its underscore.
        if (i + 6 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 3])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 4])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 5])) && s[i + 6] == '_')
          out += "_x005F_";
        else
          out += '_';
        break;
      default:
        if (c < 0x20) {
          appendHexEscape(out, c);  // XML cannot hold these (and a CR would become a LF)
        } else if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
                   (static_cast<unsigned char>(s[i + 2]) == 0xBE ||
                    static_cast<unsigned char>(s[i + 2]) == 0xBF)) {
          appendHexEscape(out, 0xFF00 | static_cast<unsigned char>(s[i + 2]) | 0xC0);
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

static bool needsPreserve(const std::string& s) {
  if (s.empty()) return false;
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return ws(s.front()) || ws(s.back());
}

namespace {

// The markup around a row's cells with the sheet's namespace prefix, made once per prefix rather
// than put together for every cell.
struct RowMarkup {
  std::string prefix, rowOpen, rowClose, cellOpen, cellClose, style, number, boolean, error, text,
      textPreserved, textClose, valueClose;
  explicit RowMarkup(const std::string& p)
      : prefix(p),
        rowOpen("<" + p + "row r=\""),
        rowClose("</" + p + "row>"),
        cellOpen("<" + p + "c r=\""),
        cellClose("</" + p + "c>"),
        style("\" s=\""),
        number("\"><" + p + "v>"),
        boolean("\" t=\"b\"><" + p + "v>"),
        error("\" t=\"e\"><" + p + "v>#NUM!</" + p + "v>"),
        text("\" t=\"inlineStr\"><" + p + "is><" + p + "t>"),
        textPreserved("\" t=\"inlineStr\"><" + p + "is><" + p + "t xml:space=\"preserve\">"),
        textClose("</" + p + "t></" + p + "is>"),
        valueClose("</" + p + "v>") {}
};

const RowMarkup& rowMarkup(const std::string& prefix) {
  thread_local std::unique_ptr<RowMarkup> markup;
  if (!markup || markup->prefix != prefix) markup = std::make_unique<RowMarkup>(prefix);
  return *markup;
}

}  // namespace

void appendRowXml(std::string& out, const std::string& p, int row, const std::vector<Cell>& cells) {
  const RowMarkup& m = rowMarkup(p);
  char rowNumber[16];
  const size_t rowDigits = static_cast<size_t>(std::to_chars(rowNumber, rowNumber + sizeof rowNumber, row + 1).ptr - rowNumber);
  const std::string_view rowText(rowNumber, rowDigits);
  out += m.rowOpen;
  out += rowText;
  out += "\">";
  for (const Cell& c : cells) {
    out += m.cellOpen;
    appendColumnName(out, c.col);
    out += rowText;
    if (c.xf != 0) {  // a cell format of xl.h
      out += m.style;
      appendInt(out, c.xf);
    }
    switch (c.kind) {
      case CellKind::Number:
        out += m.number;
        appendNumber(out, c.number);
        out += m.valueClose;
        break;
      case CellKind::Boolean:
        out += m.boolean;
        out += c.number != 0 ? '1' : '0';
        out += m.valueClose;
        break;
      case CellKind::NumError:
        out += m.error;
        break;
      case CellKind::Text:
        out += needsPreserve(c.text) ? m.textPreserved : m.text;
        appendEscapedText(out, c.text);
        out += m.textClose;
        break;
    }
    out += m.cellClose;
  }
  out += m.rowClose;
}

std::string rangeText(int r1, int c1, int r2, int c2) {
  std::string s;
  appendColumnName(s, c1);
  appendInt(s, r1 + 1);
  if (r1 != r2 || c1 != c2) {
    s += ':';
    appendColumnName(s, c2);
    appendInt(s, r2 + 1);
  }
  return s;
}

static bool parseCellRef(const char*& p, int& row, int& col) {
  if (*p == '$') ++p;
  long c = 0;
  int letters = 0;
  while (*p >= 'A' && *p <= 'Z' && letters < 4) c = c * 26 + (*p++ - 'A' + 1), ++letters;
  if (!letters) return false;
  if (*p == '$') ++p;
  long r = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9' && digits < 8) r = r * 10 + (*p++ - '0'), ++digits;
  if (!digits || r < 1 || r > 1048576 || c > 16384) return false;
  row = static_cast<int>(r - 1);
  col = static_cast<int>(c - 1);
  return true;
}

bool parseRange(const std::string& ref, int& r1, int& c1, int& r2, int& c2) {
  const char* p = ref.c_str();
  if (!parseCellRef(p, r1, c1)) return false;
  if (*p == ':') {
    ++p;
    if (!parseCellRef(p, r2, c2)) return false;
  } else {
    r2 = r1;
    c2 = c1;
  }
  return *p == '\0';
}

std::string newSheetHead(int firstRow, int lastRow, int firstCol, int lastCol, bool selected) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"" + std::string(xlsx::kMainNs) + "\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
  s += "<dimension ref=\"";
  s += firstRow < 0 ? std::string("A1") : rangeText(firstRow, firstCol, lastRow, lastCol);
  s += "\"/><sheetViews><sheetView ";
  if (selected) s += "tabSelected=\"1\" ";
  s += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData>";
  return s;
}

std::string newSheetTail() {
  return "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
         "header=\"0.3\" footer=\"0.3\"/></worksheet>";
}

static const char* localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

// The worksheet's elements that come after <hyperlinks>, in the order of the schema.
static bool followsHyperlinks(const char* local) {
  static const char* const kAfter[] = {"printOptions", "pageMargins", "pageSetup", "headerFooter", "rowBreaks",
                                       "colBreaks", "customProperties", "cellWatches", "ignoredErrors",
                                       "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF", "drawingHF",
                                       "picture", "oleObjects", "controls", "webPublishItems", "tableParts",
                                       "extLst"};
  for (const char* name : kAfter)
    if (std::strcmp(local, name) == 0) return true;
  return false;
}

SheetScanner::SheetScanner() {
  XML_Parser p = XML_ParserCreate(nullptr);
  parser_ = p;
  if (p) {
    XML_SetUserData(p, this);
    XML_SetElementHandler(p, onStart, onEnd);
  }
}

SheetScanner::~SheetScanner() {
  if (parser_) XML_ParserFree(static_cast<XML_Parser>(parser_));
}

void SheetScanner::onStart(void* self, const char* name, const char** attrs) {
  auto* s = static_cast<SheetScanner*>(self);
  XML_Parser p = static_cast<XML_Parser>(s->parser_);
  ++s->depth_;
  const char* local = localName(name);
  if (s->depth_ == 2 && std::strcmp(local, "sheetData") == 0) {
    s->scan_.hasSheetData = true;
    s->scan_.prefix.assign(name, static_cast<size_t>(local - name));
    s->scan_.sheetDataStart = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    s->scan_.sheetDataEnd = s->scan_.sheetDataStart + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
    s->sawSheetDataStart_ = true;
  } else if (s->depth_ == 2 && std::strcmp(local, "dimension") == 0) {
    s->scan_.hasDimension = true;
    s->scan_.dimensionStart = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    s->scan_.dimensionEnd = s->scan_.dimensionStart + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
    for (int i = 0; attrs[i]; i += 2)
      if (std::strcmp(attrs[i], "ref") == 0)
        s->scan_.dimensionKnown = parseRange(attrs[i + 1], s->scan_.dimFirstRow, s->scan_.dimFirstCol,
                                             s->scan_.dimLastRow, s->scan_.dimLastCol);
  } else if (s->depth_ == 2 && std::strcmp(local, "hyperlinks") == 0 && !s->scan_.linksAtKnown) {
    s->scan_.hyperlinksStart = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    s->scan_.hyperlinksEnd = s->scan_.hyperlinksStart + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
  } else if (s->depth_ == 2 && !s->scan_.linksAtKnown && followsHyperlinks(local)) {
    s->scan_.linksAt = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    s->scan_.linksAtKnown = true;
  } else if (s->depth_ == 3 && std::strcmp(local, "row") == 0) {
    int row = s->nextRow_;
    for (int i = 0; attrs[i]; i += 2)
      if (std::strcmp(attrs[i], "r") == 0) {
        long v = std::strtol(attrs[i + 1], nullptr, 10);
        if (v >= 1 && v <= 1048576) row = static_cast<int>(v - 1);
      }
    s->nextRow_ = row + 1;
    if (row + 1 > s->scan_.lastRow) s->scan_.lastRow = row + 1;
  }
}

void SheetScanner::onEnd(void* self, const char* name) {
  auto* s = static_cast<SheetScanner*>(self);
  XML_Parser p = static_cast<XML_Parser>(s->parser_);
  const char* local = localName(name);
  if (s->depth_ == 2 && std::strcmp(local, "sheetData") == 0) {
    uint64_t at = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    if (XML_GetCurrentByteCount(p) == 0) {  // the empty tag <sheetData/>
      s->scan_.sheetDataEmptyTag = true;
      s->scan_.insertAt = s->scan_.sheetDataStart;
    } else {
      s->scan_.insertAt = at;
    }
  } else if (s->depth_ == 2 && std::strcmp(local, "hyperlinks") == 0 && !s->scan_.linksAtKnown) {
    s->scan_.linksAtKnown = true;
    if (XML_GetCurrentByteCount(p) == 0) {
      s->scan_.hyperlinksEmptyTag = true;
      s->scan_.linksAt = s->scan_.hyperlinksStart;
    } else {
      s->scan_.linksInside = true;
      s->scan_.linksAt = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    }
  } else if (s->depth_ == 1 && !s->scan_.linksAtKnown) {  // </worksheet>
    s->scan_.linksAt = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    s->scan_.linksAtKnown = true;
  } else if (s->depth_ == 2 && std::strcmp(local, "dimension") == 0) {
    uint64_t at = static_cast<uint64_t>(XML_GetCurrentByteIndex(p));
    int count = XML_GetCurrentByteCount(p);
    if (count != 0) s->scan_.dimensionEnd = at + static_cast<uint64_t>(count);  // <dimension></dimension>
  }
  --s->depth_;
}

bool SheetScanner::feed(const char* data, size_t n, bool last, std::string& error) {
  XML_Parser p = static_cast<XML_Parser>(parser_);
  if (!p) {
    error = "out of memory";
    return false;
  }
  if (XML_Parse(p, data, static_cast<int>(n), last ? 1 : 0) != XML_STATUS_OK) {
    error = std::string("worksheet XML is damaged: ") + XML_ErrorString(XML_GetErrorCode(p));
    return false;
  }
  return true;
}

}  // namespace xlsx
