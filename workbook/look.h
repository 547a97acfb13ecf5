// What a book's cells and sheets look like beyond their values: the cell formats made through
// xl.h (a number format and bold), and a sheet's frozen rows, autofilter and column widths.
// Both file formats write them; nothing of this exists until a caller asks for it, so a book
// without formats or sheet looks is written exactly as before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct XlBook;

struct XlFormat {
  XlBook* book = nullptr;
  std::string numFormat;  // empty: General
  bool bold = false;
  bool link = false;      // the hyperlink look: blue and underlined
  uint32_t xf = 0;        // the cell format index cells of this format carry in the file
};

struct ColumnWidth {
  int first = 0, last = 0;
  double width = 0;  // in characters of the default font
};

struct SheetLook {
  int frozenRows = 0, frozenCols = 0;
  bool filter = false;
  int filterFirstRow = 0, filterLastRow = 0, filterFirstCol = 0, filterLastCol = 0;
  std::vector<ColumnWidth> columns;  // in the order set; a later setting wins where they overlap
  bool any() const { return frozenRows > 0 || frozenCols > 0 || filter || !columns.empty(); }
};

// The widths of the columns from first to last as they stand after every setting, one entry per
// run of columns with the same width, in column order.
std::vector<ColumnWidth> columnRuns(const SheetLook& look);

// Gives every format of the book its cell format index, after the formats the book already
// holds (those of a loaded file, or a new book's default); false with the book's error set when
// the book's own styles cannot be read.
bool assignFormatIndices(XlBook& book);
