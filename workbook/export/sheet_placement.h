// Which sheet receives a table, from which row, whether a header row is due, and the move to a
// continuation sheet once a sheet has taken its last allowed row.
#pragma once

#include "workbook/xl.h"

#include <string>
#include <vector>

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
  bool existed = false;   // a sheet that was already in the book is continued
  std::string sheetName;  // the table's sheet name, which continuation sheets are named after
  // The sheet names of the database's other tables, which no continuation sheet takes.
  std::vector<std::string> otherTables;
};

// Whether a sheet of that name is a continuation sheet of the table whose sheet is sheetName: the
// sheet name (cut as continuation names cut it) and a number without leading zero, unless the
// name is another table's sheet name or continues the longer sheet name of another table.
bool isContinuationSheet(const std::string& name, const std::string& sheetName,
                         const std::vector<std::string>& otherTables);

// The sheet name of a table whose own name the workbook refuses: each of : \ / ? * [ ] and each
// control character becomes '_', the name is cut to 31 UTF-16 units (never inside a character),
// and an apostrophe left at its start or end becomes '_'. The same name on every run.
std::string derivedSheetName(const std::string& tableName);

// The table's sheet name in this book: the table's own name when the workbook accepts it;
// otherwise the derived name, with "~2", "~3"... added (the name cut so the whole fits in 31)
// while it equals, without regard to case, a sheet another table was placed on in this book.
std::string sheetNameForTable(BookHandle book, const std::string& tableName);

// The first sheet whose name equals the table's sheet name (a to z without regard to case) is
// continued below the used rows of the last of the table's sheets (itself or a continuation
// sheet, in sheet order), or deleted with all its continuation sheets and made anew when
// overwriteTable is non-zero; otherwise a new sheet of that name is added. False when no sheet
// could be added. otherTables: the sheet names of the database's other tables.
bool placeTableSheet(BookHandle book, const std::string& tableName, int overwriteTable, Placement* placement,
                     const std::vector<std::string>& otherTables = {});

bool headerRowDue(int writeHeader, int headerOnlyForNewSheets, bool existed);

// A new continuation sheet "<sheet name><n>" at row 0, n the next number whose name is free in the
// book and is no other table's; a sheet name too long for its number is cut so the whole fits in
// 31. False when no continuation sheet can be added.
bool openContinuationSheet(BookHandle book, Placement* placement);

// After a record: the next row, on a new continuation sheet once the row passes the limit
// (lastRecordRow). False when the continuation sheet cannot be added.
bool advanceAfterRecord(BookHandle book, const std::string& sheetName, Placement* placement,
                        int lastRecordRow = kLastRecordRow);

// The process-wide number of the next continuation sheet (starts at 1, never reset).
int nextContinuationNumber();
