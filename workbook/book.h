// The records behind the handles of xl.h, shared by the .xlsx and .xls code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  Spool rows;             // rows already serialised in the file format
  std::string tempFailure;  // why the spool first failed, with the system's reason
  int minCol = -1, maxCol = -1;  // columns of the cells written here
  int firstWrittenRow = -1;
};

struct XlBook {
  bool xml = false;  // true: .xlsx, false: .xls
  std::string error = "ok";
  std::vector<std::unique_ptr<XlSheet>> sheets;
  std::unique_ptr<xlsx::Package> xlsx;
  std::unique_ptr<xls::Globals> xls;
  XlSheet* lastWritten = nullptr;  // the sheet that took the last cell
  XlBook();
  ~XlBook();
};

// Sets the book's error text and returns 0, for "return fail(book, ...)".
int fail(XlBook* book, std::string message);

// Serialises the sheet's buffered row into its spool (false with the book's error set).
bool flushPendingRow(XlSheet& sheet);

// Largest row and column counts of each format.
constexpr int kXlsRows = 65536, kXlsCols = 256;
constexpr int kXlsxRows = 1048576, kXlsxCols = 16384;
constexpr int kCellTextLimit = 32767;  // UTF-16 units
