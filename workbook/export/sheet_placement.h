// Which sheet receives a table, from which row, whether a header row is due, and the move to a
// continuation sheet once a sheet has taken its last allowed row.
#pragma once

#include "workbook/xl.h"

#include <string>

// The last row index a record may take before writing moves on to a continuation sheet.
inline constexpr int kLastRecordRow = 65530;
// The last rows of each format's sheets, which a longer limit (/ROWS=N) is cut to.
inline constexpr int kLastXlsRow = 65535;
inline constexpr int kLastXlsxRow = 1048575;

// The last record row for a /ROWS= setting (0: not set) in a book of that type (0 .xls, else .xlsx).
int lastRecordRowFor(int rowLimit, int bookType);

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
// limit (lastRecordRow). False when the continuation sheet cannot be added.
bool advanceAfterRecord(BookHandle book, const std::string& tableName, Placement* placement,
                        int lastRecordRow = kLastRecordRow);

// The process-wide number of the next continuation sheet (starts at 1, never reset).
int nextContinuationNumber();
