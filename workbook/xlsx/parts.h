// The package parts other than worksheets: made whole for a new book, edited for a loaded one.
#pragma once

#include <string>
#include <vector>

namespace xlsx {

// Namespaces and relationship types written into new parts.
extern const char* const kMainNs;
extern const char* const kRelNs;
extern const char* const kWorksheetRelType;
extern const char* const kWorksheetContentType;

// [Content_Types].xml
std::string newContentTypes(const std::vector<std::string>& sheetParts);
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

}  // namespace xlsx
