// The looks of xl.h in a BIFF8 stream: the fonts, number formats and cell formats (XF) the
// book's formats need, the autofilter names, and a new sheet's columns, frozen pane and filter.
#pragma once

#include <string>
#include <vector>

#include "workbook/book.h"
#include "workbook/xls/globals.h"

namespace xls {

// The globals up to the shared strings, as buildGlobals made them, with the book's formats and
// autofilter names added after the book's own records, whose positions and indices stay. Changes
// nothing for a book without formats or filters. The shared strings start after what this adds.
void addBookLook(const XlBook& book, std::string& before);

// A new sheet's records (newSheetHead, newSheetTail) with its column widths, autofilter and
// frozen pane added; columnXf is the cell format of the widened columns.
void addSheetLook(const SheetLook& look, uint16_t columnXf, std::string& head, std::string& tail);

}  // namespace xls
