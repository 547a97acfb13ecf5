// The format and sheet-look functions of xl.h.
#include <algorithm>
#include <map>
#include <new>

#include "workbook/formats.h"
#include "workbook/xl.h"

namespace {

constexpr size_t kLongestNumFormat = 255;
constexpr double kWidestColumn = 255;
// Excel reads at most 4,050 cell formats (XF records) of an .xls file, the book's own included.
constexpr uint32_t kMostXlsCellFormats = 4050;

std::string sheetLabel(const XlSheet& s) { return "sheet \"" + s.name + "\""; }

// A sheet whose look can be set: one added here, inside the format's limits.
bool lookable(XlSheet* sheet, int row, int col) {
  if (!sheet) return false;
  XlBook* book = sheet->book;
  if (sheet->source >= 0)
    return fail(book, sheetLabel(*sheet) + " was loaded from the file: its view and columns stay as they are");
  int maxRows = book->xml ? kXlsxRows : kXlsRows, maxCols = book->xml ? kXlsxCols : kXlsCols;
  if (row < 0 || col < 0 || row >= maxRows || col >= maxCols)
    return fail(book, "cell (" + std::to_string(row) + ", " + std::to_string(col) + ") is outside " +
                          sheetLabel(*sheet));
  return true;
}

}  // namespace

bool assignFormatIndices(XlBook& book) {
  if (book.formatBase < 0) {
    std::string error;
    book.formatBase = book.xml ? xlsx::cellFormatCount(book, error) : xls::cellFormatCount(book);
    if (book.formatBase < 0) return fail(&book, "cannot add a cell format: " + error);
  }
  for (size_t i = 0; i < book.formats.size(); ++i)
    book.formats[i]->xf = static_cast<uint32_t>(book.formatBase) + static_cast<uint32_t>(i);
  return true;
}

std::vector<ColumnWidth> columnRuns(const SheetLook& look) {
  std::map<int, double> width;  // per column; sheets have few columns with a width of their own
  for (const ColumnWidth& c : look.columns)
    for (int col = c.first; col <= c.last; ++col) width[col] = c.width;
  std::vector<ColumnWidth> runs;
  for (auto [col, w] : width) {
    if (!runs.empty() && runs.back().last == col - 1 && runs.back().width == w) runs.back().last = col;
    else runs.push_back({col, col, w});
  }
  return runs;
}

FormatHandle xlBookAddFormatA(BookHandle book, FormatHandle initFormat) {
  if (!book) return nullptr;
  if (initFormat && initFormat->book != book) {
    fail(book, "cannot add a format as a copy of another book's format");
    return nullptr;
  }
  auto format = std::unique_ptr<XlFormat>(new (std::nothrow) XlFormat);
  if (!format) return nullptr;
  if (initFormat) *format = *initFormat;
  format->book = book;
  book->formats.push_back(std::move(format));
  if (!assignFormatIndices(*book)) {
    book->formats.pop_back();
    return nullptr;
  }
  if (!book->xml && book->formats.back()->xf >= kMostXlsCellFormats) {
    book->formats.pop_back();
    fail(book, "cannot add a format: an .xls book holds at most 4,050 cell formats");
    return nullptr;
  }
  return book->formats.back().get();
}

int xlBookFormatSizeA(BookHandle book) { return book ? static_cast<int>(book->formats.size()) : 0; }

FormatHandle xlBookFormatA(BookHandle book, int index) {
  if (!book || index < 0 || index >= static_cast<int>(book->formats.size())) {
    fail(book, "no format at index " + std::to_string(index));
    return nullptr;
  }
  return book->formats[static_cast<size_t>(index)].get();
}

int xlFormatSetNumFormatCodeA(FormatHandle format, const char* code) {
  if (!format) return 0;
  std::string text = code ? code : "";
  if (text.size() > kLongestNumFormat)
    return fail(format->book, "number format \"" + text.substr(0, 40) + "...\" is longer than 255 characters");
  format->numFormat = text == "General" ? std::string() : text;
  return 1;
}

const char* xlFormatNumFormatCodeA(FormatHandle format) { return format ? format->numFormat.c_str() : ""; }

int xlFormatSetBoldA(FormatHandle format, int bold) {
  if (!format) return 0;
  format->bold = bold != 0;
  return 1;
}

int xlFormatBoldA(FormatHandle format) { return format && format->bold ? 1 : 0; }

int xlFormatSetLinkA(FormatHandle format, int link) {
  if (!format) return 0;
  format->link = link != 0;
  return 1;
}

int xlFormatLinkA(FormatHandle format) { return format && format->link ? 1 : 0; }

int xlSheetSetColA(SheetHandle sheet, int colFirst, int colLast, double width, FormatHandle format,
                   int hidden) {
  if (!lookable(sheet, 0, std::max(colFirst, colLast))) return 0;
  if (colFirst < 0 || colLast < colFirst)
    return fail(sheet->book, "no columns from " + std::to_string(colFirst) + " to " + std::to_string(colLast));
  if (format || hidden) return fail(sheet->book, "column formats and hidden columns are not supported");
  if (!(width >= 0 && width <= kWidestColumn))
    return fail(sheet->book, "a column width lies between 0 and 255 characters");
  sheet->look.columns.push_back({colFirst, colLast, width});
  return 1;
}

int xlSheetSplitA(SheetHandle sheet, int row, int col) {
  if (!lookable(sheet, row, col)) return 0;
  sheet->look.frozenRows = row;
  sheet->look.frozenCols = col;
  return 1;
}

int xlSheetSetAutoFilterA(SheetHandle sheet, int rowFirst, int rowLast, int colFirst, int colLast) {
  if (!sheet) return 0;
  if (rowLast < 0) {
    if (!lookable(sheet, 0, 0)) return 0;
    sheet->look.filter = false;
    return 1;
  }
  if (!lookable(sheet, rowFirst, colFirst) || !lookable(sheet, rowLast, colLast)) return 0;
  if (rowLast < rowFirst || colLast < colFirst) return fail(sheet->book, "an autofilter range runs from its first cell to its last");
  SheetLook& l = sheet->look;
  l.filter = true;
  l.filterFirstRow = rowFirst;
  l.filterLastRow = rowLast;
  l.filterFirstCol = colFirst;
  l.filterLastCol = colLast;
  return 1;
}
