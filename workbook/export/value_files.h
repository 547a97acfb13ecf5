// Values no cell holds whole (attachments, OLE objects, texts over a cell's 32,767 characters),
// written with /FILES=1 as files into BOOK_files/SHEET/ beside the workbook, each linked from
// its cell by a path relative to the workbook's folder. One value is in memory at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "source/variant.h"
#include "workbook/xl.h"

class AttachmentFiles;
class Database;
class Fields;

// A file that could not be written: its path and the system's reason.
struct ValueFileError {
  std::string path, reason;
};

// The folder of a workbook's value files: its path without the extension, then "_files".
std::string valueFilesFolder(const std::string& workbookPath);
// A name safe on every file system: no / \ : * ? " < > |, no control characters, no leading
// dot, no trailing dot or blank, at most kLongestFileName bytes (the extension kept).
std::string safeFileName(const std::string& name);
inline constexpr size_t kLongestFileName = 120;

class TableValueFiles {
 public:
  // The fields of the table whose values may need files; the attachment fields' files are
  // opened here, before the records are read. With a `linkLook` (typed cells) the cells that
  // link to files take that format and an OLE object's cell shows its kind. Every file and
  // folder made is added to `made`, so that a job that is not saved can remove them.
  TableValueFiles(const Database& database, const std::string& tableName, const Fields& definition,
                  const std::string& workbookPath, std::vector<std::string>& made, FormatHandle linkLook = nullptr);
  ~TableValueFiles();

  // A field whose values the record reader should hand over as they are (OLE bytes).
  bool keepsRawValue(int field) const;
  // When the value is one no cell holds whole: writes its file or files, its cell and the
  // link, and returns true. False: the caller writes the cell as usual. Throws ValueFileError.
  bool write(SheetHandle sheet, int row, int field, Variant& value);

 private:
  enum class Kind { None, Attachment, Ole, Text };
  std::string sheetFolder(SheetHandle sheet);  // relative to the workbook's folder
  std::string writeFile(const std::string& folder, const std::string& name, const uint8_t* data, size_t size);
  std::string makeFolder(const std::string& folder, const std::string& name);

  std::string bookFolder_;  // the workbook's folder, "" or ending in '/'
  std::string filesFolder_; // the value files' folder, relative to bookFolder_
  FormatHandle linkLook_;
  std::vector<Kind> kinds_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<AttachmentFiles>> attachments_;
  std::map<SheetHandle, std::string> sheetFolders_;
  std::vector<std::string>& made_;
};

// Removes the value files a book links to: those of the file it was loaded from (`loaded`), or
// those written since. Only links into the workbook's own value files folder count; a linked
// folder loses its files, and folders left empty go. Other files and folders are never touched.
void removeLinkedValueFiles(BookHandle book, const std::string& workbookPath, bool loaded);
// Removes what a job made (files, then the folders that are empty), last made first.
void removeMadeValueFiles(std::vector<std::string>& made);

// Counts, without /FILES=1, the values of a table whose text is longer than a cell holds.
bool textLongerThanCell(const Variant& value);
