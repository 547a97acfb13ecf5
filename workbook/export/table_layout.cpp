#include "workbook/export/table_layout.h"

#include <algorithm>

#include "workbook/export/typed_cell_value.h"
#include "workbook/export/value_text.h"

namespace {

size_t characters(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The characters the format adds to a number: its quoted texts.
size_t quotedCharacters(const std::string& code) {
  size_t n = 0;
  bool quoted = false;
  for (size_t i = 0; i < code.size(); ++i) {
    if (code[i] == '"') quoted = !quoted;
    else if (quoted && (static_cast<unsigned char>(code[i]) & 0xC0) != 0x80) ++n;
  }
  return n;
}

// The characters the value shows in its cell.
size_t shownWidth(const Variant& value, bool typed, const std::string& currency, bool book1904) {
  switch (value.vt) {
    case VT_NULL:
    case VT_EMPTY: return 0;
    case VT_BOOL: return 5;  // FALSE
    case VT_DATE:
    case VT_EXT_DATE:
      if (typed) {
        ExcelDate d = value.vt == VT_DATE ? excelDateOfOleDay(value.real) : excelDateOfExtended(value.extendedDate);
        d = inDateSystem(d, book1904);
        if (d.shape == DateShape::Date) return std::char_traits<char>::length(kDateFormat);
        if (d.shape == DateShape::Time) return std::char_traits<char>::length(kTimeFormat);
        if (d.shape == DateShape::DateTime) return std::char_traits<char>::length(kDateTimeFormat);
      }
      break;
    case VT_CY:
      if (typed) {
        std::string text = variantToText(value);
        // Digit groups, two decimals at least and the sign.
        return text.size() + text.size() / 3 + 2 + quotedCharacters(currency);
      }
      break;
    default: break;
  }
  return characters(variantToText(value));
}

// The sheet's filter over its rows and the widths measured so far.
void finishSheet(TableLayout& l) {
  if (!l.sheet || !l.sheetLook) return;
  for (int c = 0; c < l.columns; ++c) {
    double width = std::min(static_cast<double>(l.widths[static_cast<size_t>(c)]) + kFilterButtonRoom, kWidestFittedColumn);
    xlSheetSetColA(l.sheet, c, c, width, nullptr, 0);
  }
  xlSheetSetAutoFilterA(l.sheet, l.firstRow, std::max(l.firstRow, l.lastRow), 0, l.columns - 1);
}

}  // namespace

void startTableLayout(TableLayout& layout, bool tableLayout, bool typedCells, BookHandle book,
                      const Placement& placement, bool headerDue, int columns) {
  layout = TableLayout{};
  if (!tableLayout || !headerDue || columns <= 0) return;
  layout.active = true;
  layout.typedCells = typedCells;
  layout.book = book;
  layout.columns = columns;
  layout.sheet = placement.sheet;
  // A sheet that was in the book keeps its own view: only its header row turns bold.
  layout.sheetLook = !placement.existed;
  layout.firstRow = layout.lastRow = placement.row;
  layout.widths.assign(static_cast<size_t>(columns), 0);
  layout.titles.assign(static_cast<size_t>(columns), "");
  layout.bold = bookFormat(book, "", true);
  if (layout.sheetLook) xlSheetSplitA(layout.sheet, placement.row + 1, 0);
}

void layoutHeaderCell(TableLayout& layout, SheetHandle sheet, int row, int column, const std::string& title) {
  if (!layout.active || column >= layout.columns) return;
  if (layout.bold) xlSheetWriteStrA(sheet, row, column, title.c_str(), layout.bold);
  layout.titles[static_cast<size_t>(column)] = title;
  size_t& w = layout.widths[static_cast<size_t>(column)];
  w = std::max(w, characters(title));
}

void layoutValue(TableLayout& layout, int column, const Variant& value) {
  if (!layoutMeasures(layout) || column < 0 || column >= layout.columns) return;
  size_t& w = layout.widths[static_cast<size_t>(column)];
  w = std::max(w, shownWidth(value, layout.typedCells, layout.currency, xlBookIsDate1904A(layout.book) != 0));
}

void layoutText(TableLayout& layout, int column, const std::string& shown) {
  if (!layoutMeasures(layout) || column < 0 || column >= layout.columns) return;
  size_t& w = layout.widths[static_cast<size_t>(column)];
  w = std::max(w, characters(shown));
}

void layoutRecordWritten(TableLayout& layout, const Placement& placement) {
  if (!layout.active) return;
  layout.lastRow = placement.row;
  if (layout.recordsMeasured < kMeasuredRecords) ++layout.recordsMeasured;
}

void layoutContinuationSheet(TableLayout& layout, Placement& placement) {
  if (!layout.active || !placement.sheet) return;
  finishSheet(layout);
  layout.sheet = placement.sheet;
  layout.sheetLook = true;
  layout.firstRow = layout.lastRow = placement.row;
  for (int c = 0; c < layout.columns; ++c)
    xlSheetWriteStrA(layout.sheet, placement.row, c, layout.titles[static_cast<size_t>(c)].c_str(), layout.bold);
  xlSheetSplitA(layout.sheet, placement.row + 1, 0);
  placement.row += 1;
}

void finishTableLayout(TableLayout& layout) {
  if (!layout.active) return;
  finishSheet(layout);
  layout.active = false;
}
