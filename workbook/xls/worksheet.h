// Worksheet substreams: the cell records we write, a new sheet's records around them, and the
// scan of a loaded sheet that finds its used rows and where new cells go.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workbook/book.h"
#include "workbook/hyperlinks.h"
#include "workbook/xls/globals.h"

namespace xls {

// Cell records of one row; texts are added to the shared strings.
bool appendCellRecords(std::string& out, int row, const std::vector<Cell>& cells, uint16_t xf,
                       SharedStrings& sst, std::string& error);

// The HLINK record of a cell's link; false when the link does not fit one record.
bool appendHyperlinkRecord(std::string& out, const Hyperlink& link);

// The file path an HLINK record's file moniker names, "/" between names and "../" for each step
// up; false for a record that names none (a URL, a place in the book, a record of no known shape).
bool hyperlinkFilePath(std::string_view body, std::string& path);

// A new sheet's records before its cells, and after them.
std::string newSheetHead(uint32_t firstRow, uint32_t lastRowExclusive, uint16_t firstCol,
                         uint16_t lastColExclusive);
std::string newSheetTail(bool selected);

// Fills the sheet's layout from its substream at src.start; false for a damaged sheet.
bool scanSheet(std::string_view stream, SourceSheet& src, std::string& error);

}  // namespace xls
