// The package parts other than worksheets: made whole for a new book, edited for a loaded one.
#pragma once

#include <string>
#include <vector>

#include "workbook/book.h"

namespace xlsx {

// Namespaces and relationship types written into new parts.
inline constexpr const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";  // the one spelling of it
extern const char* const kRelNs;
extern const char* const kWorksheetRelType;
extern const char* const kWorksheetContentType;
extern const char* const kHyperlinkRelType;
// A new relationships part: its head up to the first relationship, and its end.
std::string newRelationshipsHead();
std::string newRelationshipsTail();

// [Content_Types].xml; macroEnabled gives the workbook the main content type of .xlsm
std::string newContentTypes(const std::vector<std::string>& sheetParts, bool macroEnabled = false);
// Gives the workbook part the macro-enabled main content type where it has the plain one; true
// when the part list changed.
bool makeMainMacroEnabled(std::string& xml, const std::string& workbookPart);
struct ContentTypesEdit {
  std::vector<std::string> removeParts;  // part names without the leading '/'
  std::vector<std::string> addWorksheets;
};
bool editContentTypes(std::string& xml, const ContentTypesEdit& edit, std::string& error);

// _rels/.rels and the workbook's relationships
std::string newRootRelationships();
std::string newWorkbookRelationships(const std::vector<std::string>& sheetTargets);
struct Relationship {
  std::string id, type, target;
};
bool readRelationships(const std::string& xml, std::vector<Relationship>& out, std::string& error);
struct RelationshipsEdit {
  std::vector<std::string> removeIds;
  std::vector<Relationship> add;
};
bool editRelationships(std::string& xml, const RelationshipsEdit& edit, std::string& error);

// An attribute value with XML's special characters escaped and control characters left out.
std::string attributeText(const std::string& text);

// xl/workbook.xml
std::string newWorkbook(const std::vector<std::string>& sheetNames);
struct WorkbookSheet {
  std::string name, relId;  // relId: the r:id attribute
};
bool readWorkbookSheets(const std::string& xml, std::vector<WorkbookSheet>& out, std::string& error);
struct WorkbookEdit {
  // For each sheet of the loaded file in its order: its position in the saved book, -1 if deleted.
  std::vector<int> newPosition;
  std::vector<std::string> deletedNames;
  std::vector<WorkbookSheet> added;  // appended after the kept sheets
};
bool editWorkbook(std::string& xml, const WorkbookEdit& edit, std::string& error);
// A defined name's formula with references to the sheet turned into #REF!, as Excel does.
std::string refErrorForSheet(const std::string& formula, const std::string& sheetName);

// xl/styles.xml
std::string newStyles();
// The first id of the number formats a book may define itself; lower ones are Excel's own.
constexpr unsigned kFirstCustomNumFmtId = 164;
// The styles with the book's formats added after the part's own fonts, number formats and cell
// formats, none of which moves; false with a reason for a part that is no style sheet.
bool addFormatsToStyles(std::string& xml, const XlBook& book, std::string& error);
// How many cell formats (cellXfs) the part holds; -1 with a reason when it cannot be read.
int countCellFormats(const std::string& xml, std::string& error);

// The defined name Excel gives a sheet's autofilter range.
extern const char* const kFilterDatabaseName;  // "_xlnm._FilterDatabase"
// The autofilter names of the book's sheets added to a workbook part (the sheets at their
// positions in the saved book).
bool addFilterNames(std::string& xml, const XlBook& book, std::string& error);

// A new worksheet's head and tail (newSheetHead, newSheetTail) with the sheet's frozen pane,
// column widths and autofilter put in their places.
std::string withSheetLookHead(std::string head, const SheetLook& look);
std::string withSheetLookTail(std::string tail, const SheetLook& look);

}  // namespace xlsx
