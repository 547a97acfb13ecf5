// A table laid out for reading (/LAYOUT=TABLE): on a sheet that gets a header row, the header in
// bold, the pane frozen below it, an autofilter over the header and the table's columns, and
// column widths fitted to the header and the first values. Continuation sheets of the table get
// the same header row, frozen pane and widths, and an autofilter over their own rows.
//
// The export calls it at six points: sheet placed, header cell written, value written (for
// the widths), record written (after its row is done, before the move to the next row),
// continuation sheet opened, and table finished.
#pragma once

#include <string>
#include <vector>

#include "source/variant.h"
#include "workbook/export/sheet_placement.h"
#include "workbook/xl.h"

// How many values of a column its width is fitted to, and the widest width, in characters.
inline constexpr int kMeasuredRecords = 1000;
inline constexpr double kWidestFittedColumn = 60;
// Room beside a column's text for the filter button.
inline constexpr double kFilterButtonRoom = 2;

struct TableLayout {
  bool active = false;      // the switch is on and the table's sheet got a header row
  bool typedCells = false;  // dates take their formats' width
  std::string currency;     // typed money's number format, whose sign takes room
  BookHandle book = nullptr;
  FormatHandle bold = nullptr;
  int columns = 0;
  SheetHandle sheet = nullptr;  // the sheet being filled
  bool sheetLook = false;       // the sheet was added by this job: its view may be set
  int firstRow = 0;             // the header row, or 0 on a continuation sheet
  int lastRow = -1;             // the last row written on the sheet
  int recordsMeasured = 0;
  std::vector<size_t> widths;   // characters, per column
  std::vector<std::string> titles;  // the header row, for the continuation sheets
};

void startTableLayout(TableLayout& layout, bool tableLayout, bool typedCells, BookHandle book,
                      const Placement& placement, bool headerDue, int columns);
// After the header title went to (row, column): the title in bold.
void layoutHeaderCell(TableLayout& layout, SheetHandle sheet, int row, int column, const std::string& title);
// A value of the current record, measured while the first records are written.
inline bool layoutMeasures(const TableLayout& layout) { return layout.active && layout.recordsMeasured < kMeasuredRecords; }
void layoutValue(TableLayout& layout, int column, const Variant& value);
// A value shown as this text (an OLE object's kind).
void layoutText(TableLayout& layout, int column, const std::string& shown);
// The record's row is written (before the move to the next row or sheet).
void layoutRecordWritten(TableLayout& layout, const Placement& placement);
// The move to a continuation sheet: the last sheet is done; the new one gets the header row,
// and the placement's row goes below it.
void layoutContinuationSheet(TableLayout& layout, Placement& placement);
// Filter and widths of the last sheet.
void finishTableLayout(TableLayout& layout);
