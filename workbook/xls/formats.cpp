#include "workbook/xls/formats.h"

#include <algorithm>
#include <map>

#include "workbook/formats.h"
#include "workbook/text.h"
#include "workbook/xls/records.h"

namespace xls {

namespace {

struct Rec {
  uint16_t type;
  std::string body;
};

// The records of bytes made by addRecord; false when they do not end where the bytes do.
bool splitRecords(const std::string& bytes, std::vector<Rec>& out) {
  RecordView r;
  size_t off = 0;
  for (; readRecord(bytes, off, r); off += 4 + r.body.size()) out.push_back({r.type, std::string(r.body)});
  return off == bytes.size();
}

std::string joinRecords(const std::vector<Rec>& records) {
  std::string out;
  for (const Rec& r : records) addRecord(out, r.type, r.body);
  return out;
}

// The index after the last record of the type (with the CONTINUE records that follow it), or
// npos when there is none.
size_t afterLast(const std::vector<Rec>& rs, uint16_t type) {
  size_t at = std::string::npos;
  for (size_t i = 0; i < rs.size(); ++i)
    if (rs[i].type == type) {
      at = i + 1;
      while (at < rs.size() && rs[at].type == kContinue) ++at;
    }
  return at;
}

size_t firstOf(const std::vector<Rec>& rs, uint16_t type) {
  for (size_t i = 0; i < rs.size(); ++i)
    if (rs[i].type == type) return i;
  return std::string::npos;
}

void insertAt(std::vector<Rec>& rs, size_t at, std::vector<Rec> added) {
  rs.insert(rs.begin() + static_cast<std::ptrdiff_t>(std::min(at, rs.size())), added.begin(), added.end());
}

std::string cellXf(uint16_t font, uint16_t format) {
  std::string b;
  le::add16(b, font);
  le::add16(b, format);
  le::add16(b, kXfLockedCellOfStyle0);
  b += static_cast<char>(kXfBottomAligned);
  b += '\0';
  b += '\0';
  b += static_cast<char>(kXfUsesNumberAndFont);
  le::add32(b, 0);
  le::add32(b, 0);
  le::add16(b, kXfPatternColours);
  return b;
}

std::string filterName(uint16_t sheetPosition, uint16_t ixti, const SheetLook& l) {
  std::string b;
  le::add16(b, kNameHiddenBuiltin);
  b += '\0';  // no shortcut key
  b += '\1';  // one character: the built-in name's number
  le::add16(b, 11);  // formula size: one PtgArea3d
  le::add16(b, 0);
  le::add16(b, static_cast<uint16_t>(sheetPosition + 1));  // a name of that sheet
  b.append(4, '\0');
  b += '\0';  // compressed characters
  b += static_cast<char>(kBuiltinFilterDatabase);
  b += static_cast<char>(kPtgArea3d);
  le::add16(b, ixti);
  le::add16(b, static_cast<uint16_t>(l.filterFirstRow));
  le::add16(b, static_cast<uint16_t>(l.filterLastRow));
  le::add16(b, static_cast<uint16_t>(l.filterFirstCol));  // absolute references
  le::add16(b, static_cast<uint16_t>(l.filterLastCol));
  return b;
}

// Fonts, number formats and cell formats of the book's formats.
void addFormats(const XlBook& book, std::vector<Rec>& rs) {
  if (book.formats.empty()) return;
  // A copy of the first font for each look the formats ask for: bold, link, or both.
  std::map<std::pair<bool, bool>, uint16_t> fontOf{{{false, false}, 0}};
  size_t first = firstOf(rs, kFont);
  for (auto& f : book.formats) {
    std::pair<bool, bool> look{f->bold, f->link};
    if (fontOf.count(look) || first == std::string::npos) continue;
    uint16_t fonts = static_cast<uint16_t>(std::count_if(rs.begin(), rs.end(), [](const Rec& r) { return r.type == kFont; }));
    fontOf[look] = fonts >= kSkippedFontIndex ? static_cast<uint16_t>(fonts + 1) : fonts;
    std::string body = rs[first].body;
    if (f->bold && body.size() >= kFontWeightOffset + 2) le::put16(&body[kFontWeightOffset], kFontBoldWeight);
    if (f->link && body.size() > kFontUnderlineOffset) {
      le::put16(&body[kFontColourOffset], kFontLinkColour);
      body[kFontUnderlineOffset] = static_cast<char>(kFontSingleUnderline);
    }
    insertAt(rs, afterLast(rs, kFont), {{kFont, body}});
  }
  uint16_t nextFormat = kFirstCustomFormat;
  for (const Rec& r : rs)
    if (r.type == kFormat && r.body.size() >= 2) nextFormat = std::max<uint16_t>(nextFormat, static_cast<uint16_t>(le::get16(r.body.data()) + 1));
  std::map<std::string, uint16_t> ids;
  std::vector<Rec> formats;
  for (auto& f : book.formats) {
    if (f->numFormat.empty() || ids.count(f->numFormat)) continue;
    std::string body;
    le::add16(body, nextFormat);
    addUnicodeString(body, toUtf16(f->numFormat), true);
    formats.push_back({kFormat, body});
    ids[f->numFormat] = nextFormat++;
  }
  size_t formatsAt = afterLast(rs, kFormat);
  insertAt(rs, formatsAt != std::string::npos ? formatsAt : firstOf(rs, kXf), formats);
  std::vector<Rec> xfs;
  for (auto& f : book.formats)
    xfs.push_back({kXf, cellXf(fontOf.count({f->bold, f->link}) ? fontOf[{f->bold, f->link}] : 0,
                               f->numFormat.empty() ? 0 : ids[f->numFormat])});
  insertAt(rs, afterLast(rs, kXf), xfs);
}

// _FilterDatabase names of the sheets with an autofilter, and the references they need.
void addFilterNames(const XlBook& book, std::vector<Rec>& rs) {
  std::vector<uint16_t> sheets;
  for (size_t i = 0; i < book.sheets.size(); ++i)
    if (book.sheets[i]->look.filter) sheets.push_back(static_cast<uint16_t>(i));
  if (sheets.empty()) return;
  uint16_t count = static_cast<uint16_t>(book.sheets.size());
  int supBooks = 0, self = -1;
  for (const Rec& r : rs)
    if (r.type == kSupBook) {
      if (r.body.size() == 4 && le::get16(&r.body[2]) == kSupBookSelf) self = supBooks;
      ++supBooks;
    }
  size_t externSheet = firstOf(rs, kExternSheet);
  if (externSheet != std::string::npos && externSheet + 1 < rs.size() && rs[externSheet + 1].type == kContinue)
    return;  // a reference list this long is left alone
  if (self < 0) {
    std::string supBook;
    le::add16(supBook, count);
    le::add16(supBook, kSupBookSelf);
    size_t at = externSheet;
    if (at == std::string::npos) at = firstOf(rs, kName);
    if (at == std::string::npos) {
      at = 0;
      for (uint16_t t : {kBoundSheet, kCountry, kRecalcId})
        if (size_t a = afterLast(rs, t); a != std::string::npos) at = std::max(at, a);
    }
    std::vector<Rec> added{{kSupBook, supBook}};
    if (externSheet == std::string::npos) {
      std::string empty;
      le::add16(empty, 0);
      added.push_back({kExternSheet, empty});
    }
    insertAt(rs, at, added);
    self = supBooks;
    externSheet = firstOf(rs, kExternSheet);
  }
  std::string& refs = rs[externSheet].body;
  if (refs.size() < 2) refs.assign(2, '\0');
  uint16_t first = le::get16(refs.data());
  std::vector<Rec> names;
  for (size_t k = 0; k < sheets.size(); ++k) {
    le::add16(refs, static_cast<uint16_t>(self));
    le::add16(refs, sheets[k]);
    le::add16(refs, sheets[k]);
    names.push_back({kName, filterName(sheets[k], static_cast<uint16_t>(first + k),
                                       book.sheets[sheets[k]]->look)});
  }
  le::put16(&refs[0], static_cast<uint16_t>(first + sheets.size()));
  size_t namesAt = afterLast(rs, kName);
  insertAt(rs, namesAt != std::string::npos ? namesAt : externSheet + 1, names);
}

}  // namespace

int cellFormatCount(const XlBook& book) {
  return static_cast<int>(std::count_if(book.xls->records.begin(), book.xls->records.end(),
                                        [](const GlobalRecord& r) { return r.type == kXf; }));
}

void addBookLook(const XlBook& book, std::string& before) {
  bool filters = std::any_of(book.sheets.begin(), book.sheets.end(), [](auto& s) { return s->look.filter; });
  if (book.formats.empty() && !filters) return;
  std::vector<Rec> rs;
  if (!splitRecords(before, rs)) return;
  addFormats(book, rs);
  addFilterNames(book, rs);
  before = joinRecords(rs);
}

void addSheetLook(const SheetLook& look, uint16_t columnXf, std::string& head, std::string& tail) {
  if (!look.any()) return;
  std::vector<Rec> h;
  if (!splitRecords(head, h)) return;
  std::vector<Rec> added;
  std::vector<ColumnWidth> runs = columnRuns(look);
  if (!runs.empty()) {
    std::string d;
    le::add16(d, kDefaultColumnWidth);
    added.push_back({kDefColWidth, d});
    for (const ColumnWidth& c : runs) {
      std::string b;
      le::add16(b, static_cast<uint16_t>(c.first));
      le::add16(b, static_cast<uint16_t>(c.last));
      le::add16(b, static_cast<uint16_t>(std::min(65535.0, c.width * kColumnWidthUnit)));
      le::add16(b, columnXf);
      le::add16(b, kColInfoUserSet);
      le::add16(b, 0);
      added.push_back({kColInfo, b});
    }
  }
  if (look.filter) {
    std::string b;
    le::add16(b, static_cast<uint16_t>(look.filterLastCol - look.filterFirstCol + 1));
    added.push_back({kAutoFilterInfo, b});
  }
  insertAt(h, firstOf(h, kDimensions), added);
  head = joinRecords(h);

  if (look.frozenRows <= 0 && look.frozenCols <= 0) return;
  std::vector<Rec> t;
  if (!splitRecords(tail, t)) return;
  size_t window = firstOf(t, kWindow2);
  if (window == std::string::npos) return;
  std::string& w = t[window].body;
  le::put16(&w[0], static_cast<uint16_t>(le::get16(w.data()) | kWindow2Frozen | kWindow2FrozenNoSplit));
  uint8_t pane = look.frozenRows > 0 && look.frozenCols > 0 ? kPaneBottomRight
                 : look.frozenRows > 0                     ? kPaneBottomLeft
                                                           : kPaneTopRight;
  std::string p;
  le::add16(p, static_cast<uint16_t>(look.frozenCols));
  le::add16(p, static_cast<uint16_t>(look.frozenRows));
  le::add16(p, static_cast<uint16_t>(look.frozenRows));
  le::add16(p, static_cast<uint16_t>(look.frozenCols));
  p += static_cast<char>(pane);
  p += '\0';
  std::string s;
  s += static_cast<char>(pane);
  le::add16(s, static_cast<uint16_t>(look.frozenRows));
  le::add16(s, static_cast<uint16_t>(look.frozenCols));
  le::add16(s, 0);  // the active cell is the first of the one range
  le::add16(s, 1);
  le::add16(s, static_cast<uint16_t>(look.frozenRows));
  le::add16(s, static_cast<uint16_t>(look.frozenRows));
  s += static_cast<char>(look.frozenCols);
  s += static_cast<char>(look.frozenCols);
  insertAt(t, window + 1, {{kPane, p}, {kSelection, s}});
  tail = joinRecords(t);
}

}  // namespace xls
