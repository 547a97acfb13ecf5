// The looks of xl.h in a BIFF8 stream: the fonts, number formats and cell formats (XF) the
// book's formats need, the autofilter names, and a new sheet's columns, frozen pane and filter.
#pragma once

#include <string>
#include <vector>

#include "workbook/book.h"
#include "workbook/xls/globals.h"

namespace xls {

// The globals as buildGlobals made them (before: the bytes up to the shared strings; after: the
// rest), with the book's formats and autofilter names added after the book's own records, whose
// positions and indices stay. Changes nothing for a book without formats or filters.
void addBookLook(const XlBook& book, const Globals& g, std::string& before, std::string& after);

// A new sheet's records (newSheetHead, newSheetTail) with its column widths, autofilter and
// frozen pane added; columnXf is the cell format of the widened columns.
void addSheetLook(const SheetLook& look, uint16_t columnXf, std::string& head, std::string& tail);

}  // namespace xls
