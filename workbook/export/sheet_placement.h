// Which sheet receives a table, from which row, whether a header row is due, and the move to a
// continuation sheet once a sheet has taken its last allowed row.
#pragma once

#include "workbook/xl.h"

#include <string>

// The last row index a record may take before writing moves on to a continuation sheet.
inline constexpr int kLastRecordRow = 65530;

struct Placement {
  SheetHandle sheet = nullptr;
  int row = 0;
  bool existed = false;  // a sheet that was already in the book is continued
};

// The first sheet whose name equals the table's (a to z without regard to case) is continued
// below its used rows, or deleted and made anew when overwriteTable is non-zero; otherwise a new
// sheet named exactly as the table is added. False when no sheet could be added.
bool placeTableSheet(BookHandle book, const std::string& tableName, int overwriteTable, Placement* placement);

bool headerRowDue(int writeHeader, int headerOnlyForNewSheets, bool existed);

// After a record: the next row, on a new continuation sheet "<table><n>" once the row passes the
// limit. False when the continuation sheet cannot be added.
bool advanceAfterRecord(BookHandle book, const std::string& tableName, Placement* placement);

// The process-wide number of the next continuation sheet (starts at 1, never reset).
int nextContinuationNumber();
