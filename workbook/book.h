// The records behind the handles of xl.h, shared by the .xlsx and .xls code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/look.h"
#include "workbook/spool.h"

struct XlBook;
namespace xlsx { struct Package; }
namespace xls { struct Globals; }

enum class CellKind : uint8_t { Number, Boolean, Text, NumError };

struct Cell {
  int col = 0;
  CellKind kind = CellKind::Number;
  double number = 0;     // Number; Boolean holds 0 or 1
  std::string text;      // Text: valid UTF-8 of at most the cell limit
  uint32_t xf = 0;       // the cell format index of the cell's format; 0 for none
};

struct XlSheet {
  XlBook* book = nullptr;
  std::string name;
  int lastRow = 0;        // first row below the used rows
  int firstFreeRow = 0;   // rows below the loaded content; writes start here
  int source = -1;        // index into the loaded file's sheets, -1 for a sheet added here
  bool writable = true;   // false for chart sheets and parts we cannot extend safely
  int pendingRow = -1;    // the row being written, kept until a later row arrives
  std::vector<Cell> pending;
  std::vector<std::string> spareTexts;  // buffers of written text cells, for the next ones
  std::string rowBytes;   // the row being serialised, its buffer kept for the next one
  Spool rows;             // rows already serialised in the file format
  std::string tempFailure;  // why the spool first failed, with the system's reason
  int minCol = -1, maxCol = -1;  // columns of the cells written here
  int firstWrittenRow = -1;
  SheetLook look;         // frozen rows, autofilter, column widths (sheets added here only)
  bool holdsTable = false;  // a table of this book's conversion was placed on it
  Spool links;            // hyperlinks of cells written here (workbook/hyperlinks.h)
  uint32_t linkCount = 0;
};

struct XlBook {
  bool xml = false;  // true: .xlsx, false: .xls
  std::string error = "ok";
  std::vector<std::unique_ptr<XlSheet>> sheets;
  std::unique_ptr<xlsx::Package> xlsx;
  std::unique_ptr<xls::Globals> xls;
  XlSheet* lastWritten = nullptr;  // the sheet that took the last cell
  std::vector<std::unique_ptr<XlFormat>> formats;  // made through xlBookAddFormatA, in order
  int formatBase = -1;  // the cell formats the book held before those; -1 until counted
  bool date1904 = false;  // day numbers count from 1904-01-01 (a loaded book's own date system)
  XlBook();
  ~XlBook();
};

// Sets the book's error text and returns 0, for "return fail(book, ...)".
int fail(XlBook* book, std::string message);

// A text cell from valid UTF-8 (the engine's texts, ASCII): only cut at a NUL and to the cell
// limit, not cleaned again as xlSheetWriteStrA cleans what it is given. Results as that function's.
int writeValidUtf8Cell(XlSheet* sheet, int row, int col, std::string_view utf8, XlFormat* format = nullptr);

// Serialises the sheet's buffered row into its spool (false with the book's error set).
bool flushPendingRow(XlSheet& sheet);

// Largest row and column counts of each format.
constexpr int kXlsRows = 65536, kXlsCols = 256;
constexpr int kXlsxRows = 1048576, kXlsxCols = 16384;
constexpr int kCellTextLimit = 32767;  // UTF-16 units
