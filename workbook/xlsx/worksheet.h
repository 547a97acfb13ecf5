// Worksheet parts: the XML of rows and cells we write, and the scan of a loaded worksheet that
// finds its used rows and the place where new rows go.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workbook/book.h"

namespace xlsx {

// The column letters of a zero-based column ("A", "AB").
void appendColumnName(std::string& out, int col);
// Text for an element's content with XML's special and forbidden characters escaped.
void appendEscapedText(std::string& out, const std::string& utf8);
void appendNumber(std::string& out, double value);

// One <row> element; prefix is the namespace prefix of the part ("" or "x:").
void appendRowXml(std::string& out, const std::string& prefix, int row,
                  const std::vector<Cell>& cells);

// The start of a new worksheet up to and including <sheetData>, and its end.
std::string newSheetHead(int firstRow, int lastRow, int firstCol, int lastCol, bool selected);
std::string newSheetTail();

// What the scan of a loaded worksheet learns.
struct SheetScan {
  int lastRow = 0;              // first row below the used rows
  std::string prefix;           // namespace prefix of the elements, "" or "x:"
  bool hasSheetData = false;
  bool sheetDataEmptyTag = false;  // <sheetData/>
  uint64_t sheetDataStart = 0, sheetDataEnd = 0;  // the <sheetData> tag (or the empty tag)
  uint64_t insertAt = 0;        // where rows go: the start of </sheetData>
  bool hasDimension = false;
  uint64_t dimensionStart = 0, dimensionEnd = 0;
  int dimFirstRow = 0, dimLastRow = 0, dimFirstCol = 0, dimLastCol = 0;  // zero-based, inclusive
  bool dimensionKnown = false;
  // Where new hyperlinks go: inside the sheet's <hyperlinks> (before its end tag), or where that
  // element belongs when there is none (before the first element that follows it).
  uint64_t linksAt = 0;
  bool linksInside = false;         // linksAt lies inside an existing <hyperlinks>
  bool hyperlinksEmptyTag = false;  // <hyperlinks/>, replaced whole
  uint64_t hyperlinksStart = 0, hyperlinksEnd = 0;
  bool linksAtKnown = false;
};

// Feeds the part's bytes in pieces; false with a reason for XML that is not well formed.
class SheetScanner {
 public:
  SheetScanner();
  ~SheetScanner();
  bool feed(const char* data, size_t n, bool last, std::string& error);
  const SheetScan& result() const { return scan_; }

 private:
  static void onStart(void* self, const char* name, const char** attrs);
  static void onEnd(void* self, const char* name);
  void* parser_;
  SheetScan scan_;
  int depth_ = 0;
  int nextRow_ = 0;
  bool sawSheetDataStart_ = false;
};

// Parses "A1" or "B2:C10" (dollar signs allowed); false when it is neither.
bool parseRange(const std::string& ref, int& r1, int& c1, int& r2, int& c2);
std::string rangeText(int r1, int c1, int r2, int c2);

}  // namespace xlsx
