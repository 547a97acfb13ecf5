#include "workbook/export/sheet_placement.h"

#include <algorithm>
#include <atomic>

#include "platform/text.h"
#include "platform/text_codec.h"
#include "workbook/book.h"
#include "workbook/text.h"

namespace {
std::atomic<int> continuationCounter{1};
// How many taken names a continuation sheet skips before it gives up.
constexpr int kContinuationAttempts = 1000;
constexpr char kReplacement = '_';
constexpr char kClashMark = '~';

// What a derived name replaces: what the workbook refuses, and the other control characters too.
bool replacedInDerivedName(char32_t c) { return refusedInSheetName(c) || (c >= 0x7F && c <= 0x9F); }

// The name cut so that `suffix` still fits after it, then the suffix.
std::string cutAndAppend(const std::string& name, const std::string& suffix) {
  return cleanUtf8(name, kLongestSheetName - suffix.size()) + suffix;
}

// Whether another table of this book's conversion already took a sheet of that name.
bool tableSheetNamed(BookHandle book, const std::string& name) {
  for (int index = 0; index < xlBookSheetCountA(book); ++index) {
    SheetHandle sheet = xlBookGetSheetA(book, index);
    if (sheet && sheet->holdsTable && sameSheetName(sheet->name, name)) return true;
  }
  return false;
}

// The placement on a sheet, which is then known as a table's for the names of later tables.
Placement placed(SheetHandle sheet, int row, bool existed, const std::string& sheetName) {
  sheet->holdsTable = true;
  return {sheet, row, existed, sheetName};
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

std::string derivedSheetName(const std::string& tableName) {
  std::string replaced;
  for (char32_t c : codePoints(tableName)) {
    if (replacedInDerivedName(c))
      replaced += kReplacement;
    else
      appendUtf8(replaced, c);
  }
  std::string name = cleanUtf8(replaced, kLongestSheetName);
  if (name.empty()) return std::string(1, kReplacement);
  if (name.front() == '\'') name.front() = kReplacement;
  if (name.back() == '\'') name.back() = kReplacement;
  return name;
}

std::string sheetNameForTable(BookHandle book, const std::string& tableName) {
  if (sheetNameAllowed(tableName)) return tableName;
  const std::string base = derivedSheetName(tableName);
  std::string name = base;
  // Each sheet can take one number, so this ends before the count runs out.
  for (int n = 2; tableSheetNamed(book, name) && n <= xlBookSheetCountA(book) + 1; ++n)
    name = cutAndAppend(base, kClashMark + std::to_string(n));
  return name;
}

bool isContinuationSheet(const std::string& name, const std::string& sheetName,
                         const std::vector<std::string>& otherTables) {
  size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  bool matched = false;
  for (size_t at = digits; at < name.size() && !matched; ++at)
    matched = name[at] != '0' && asciiEqualsIgnoreCase(name, cutAndAppend(sheetName, name.substr(at)));
  if (!matched) return false;
  for (const std::string& other : otherTables) {
    if (sameSheetName(name, other)) return false;
    // Sheets "Q12" beside tables "Q" and "Q1" are taken for Q1's, and Q's own never take that name.
    if (other.size() > sheetName.size() && isContinuationSheet(name, other, {})) return false;
  }
  return true;
}

bool placeTableSheet(BookHandle book, const std::string& tableName, int overwriteTable, Placement* placement,
                     const std::vector<std::string>& otherTables) {
  const std::string sheetName = sheetNameForTable(book, tableName);
  int own = -1;  // the table's sheet
  std::vector<int> continuations;  // its continuation sheets, in sheet order
  for (int index = 0; index < xlBookSheetCountA(book); ++index) {
    SheetHandle sheet = xlBookGetSheetA(book, index);
    const char* name = sheet ? xlSheetNameA(sheet) : nullptr;
    if (!name) continue;
    if (own < 0 && asciiEqualsIgnoreCase(name, sheetName))
      own = index;
    else if (isContinuationSheet(name, sheetName, otherTables))
      continuations.push_back(index);
  }
  if (own >= 0 && overwriteTable == 0) {
    // Appending goes on below the last of the table's sheets.
    int last = continuations.empty() || continuations.back() < own ? own : continuations.back();
    SheetHandle sheet = xlBookGetSheetA(book, last);
    *placement = placed(sheet, xlSheetLastRowA(sheet), true, sheetName);
    placement->otherTables = otherTables;
    return true;
  }
  // The old sheets go only once their successor's name is known to be accepted; a refused name
  // keeps them, and the add below says why. Continuation sheets are left when appending to a
  // table whose own sheet is gone.
  if (overwriteTable != 0 && nameAcceptedInstead(book, sheetName, own)) {
    if (own >= 0) continuations.push_back(own);
    std::sort(continuations.begin(), continuations.end());
    for (auto index = continuations.rbegin(); index != continuations.rend(); ++index) xlBookDelSheetA(book, *index);
  }
  SheetHandle sheet = xlBookAddSheetA(book, sheetName.c_str(), nullptr);
  if (!sheet) return false;
  *placement = placed(sheet, 0, false, sheetName);
  placement->otherTables = otherTables;
  return true;
}

bool headerRowDue(int writeHeader, int headerOnlyForNewSheets, bool existed) {
  return writeHeader != 0 && (!existed || headerOnlyForNewSheets == 0);
}

int lastRecordRowFor(int rowLimit, int bookType) {
  if (rowLimit <= 0) return kLastRecordRow;
  return std::min(rowLimit, bookType != 0 ? kLastXlsxRow : kLastXlsRow);
}

bool openContinuationSheet(BookHandle book, Placement* placement) {
  // A name already taken in the book (a sheet "Orders1" beside a table "Orders") would fail the
  // add, and another table's name would put this table's rows on that table's sheet; the next
  // numbers are tried so the table's remaining rows still find a sheet of their own. A name with
  // no room left for the number gives up its end, as the workbook takes no longer names.
  for (int attempt = 0; attempt < kContinuationAttempts; ++attempt) {
    std::string name = cutAndAppend(placement->sheetName, std::to_string(continuationCounter.fetch_add(1)));
    if (!isContinuationSheet(name, placement->sheetName, placement->otherTables)) continue;
    if (SheetHandle sheet = xlBookAddSheetA(book, name.c_str(), nullptr)) {
      placement->sheet = placed(sheet, 0, false, placement->sheetName).sheet;
      placement->row = 0;
      placement->existed = false;
      return true;
    }
    if (!sheetNameAllowed(name)) break;  // refused for itself, not for a clash: no number helps
  }
  placement->sheet = nullptr;
  return false;
}

bool advanceAfterRecord(BookHandle book, const std::string& sheetName, Placement* placement, int lastRecordRow) {
  placement->row += 1;
  if (placement->row <= lastRecordRow) return true;
  placement->sheetName = sheetName;
  return openContinuationSheet(book, placement);
}
