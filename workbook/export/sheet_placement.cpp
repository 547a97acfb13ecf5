#include "workbook/export/sheet_placement.h"

#include <algorithm>
#include <atomic>

#include "platform/text.h"
#include "workbook/text.h"

namespace {
std::atomic<int> continuationCounter{1};
// How many taken names a continuation sheet skips before it gives up.
constexpr int kContinuationAttempts = 1000;
constexpr size_t kLongestSheetName = 31;  // in UTF-16 units, as the workbook counts

size_t utf16Length(const std::string& text) {
  size_t units = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++units;  // a character starts here
    if (c >= 0xF0) ++units;           // beyond the Basic Multilingual Plane: a surrogate pair
  }
  return units;
}
// Whether a sheet named name could be added once the sheet at index is gone.
bool nameAcceptedInstead(BookHandle book, const std::string& name, int index) {
  if (!sheetNameAllowed(name)) return false;
  for (int other = 0; other < xlBookSheetCountA(book); ++other) {
    SheetHandle sheet = other == index ? nullptr : xlBookGetSheetA(book, other);
    if (sheet && sameSheetName(xlSheetNameA(sheet), name)) return false;
  }
  return true;
}
}  // namespace

int nextContinuationNumber() { return continuationCounter.load(); }

bool placeTableSheet(BookHandle book, const std::string& tableName, int overwriteTable, Placement* placement) {
  for (int index = 0; index < xlBookSheetCountA(book); ++index) {
    SheetHandle sheet = xlBookGetSheetA(book, index);
    const char* name = sheet ? xlSheetNameA(sheet) : nullptr;
    if (!name || !asciiEqualsIgnoreCase(name, tableName)) continue;
    if (overwriteTable != 0) {
      // The old sheet goes only once its successor's name is known to be accepted; a refused name
      // keeps it, and the add below says why.
      if (nameAcceptedInstead(book, tableName, index)) xlBookDelSheetA(book, index);
      break;
    }
    *placement = {sheet, xlSheetLastRowA(sheet), true};
    return true;
  }
  SheetHandle sheet = xlBookAddSheetA(book, tableName.c_str(), nullptr);
  if (!sheet) return false;
  *placement = {sheet, 0, false};
  return true;
}

bool headerRowDue(int writeHeader, int headerOnlyForNewSheets, bool existed) {
  return writeHeader != 0 && (!existed || headerOnlyForNewSheets == 0);
}

int lastRecordRowFor(int rowLimit, int bookType) {
  if (rowLimit <= 0) return kLastRecordRow;
  return std::min(rowLimit, bookType != 0 ? kLastXlsxRow : kLastXlsRow);
}

bool advanceAfterRecord(BookHandle book, const std::string& tableName, Placement* placement, int lastRecordRow) {
  placement->row += 1;
  if (placement->row <= lastRecordRow) return true;
  // A name already taken in the book (a sheet "Orders1" beside a table "Orders") would fail the
  // add; the next numbers are tried so the table's remaining rows still find a sheet.
  for (int attempt = 0; attempt < kContinuationAttempts; ++attempt) {
    std::string name = tableName + std::to_string(continuationCounter.fetch_add(1));
    if (SheetHandle sheet = xlBookAddSheetA(book, name.c_str(), nullptr)) {
      *placement = {sheet, 0, false};
      return true;
    }
    if (utf16Length(name) > kLongestSheetName) break;  // longer numbers cannot make a valid name either
  }
  placement->sheet = nullptr;
  return false;
}
