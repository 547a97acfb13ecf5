// Values no cell holds whole, as the files they stand for: an attachment as the file that was
// attached, an OLE object as its content (a package's embedded file under its own name, the
// native data of another object, the bytes as stored where there is no OLE wrapper), and the
// extension a file's content calls for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ComplexColumnValues;
struct ComplexColumn;
struct DatabaseFile;

// What an OLE object field holds: where its content lies within the stored bytes.
struct OleContent {
  bool linked = false;     // a link to a file elsewhere: no content here
  size_t offset = 0, size = 0;
  std::string name;        // an embedded file's own name (no folders), or empty
  std::string className;   // the object's class ("Paint.Picture", "Word.Document.8"), or empty
  std::string kind;        // its kind as Access's header names it ("Bitmap Image"), or empty
};
OleContent oleContent(const std::vector<uint8_t>& stored);

// The attached file from the bytes an attachment field stores; false with the reason for bytes
// of no known layout.
bool decodeAttachment(const std::vector<uint8_t>& stored, std::vector<uint8_t>& file, std::string& why);

// The extension a file's first bytes call for (".png", ".pdf", ...), ".bin" when none is known.
// An OLE compound file takes its extension from the object's class.
std::string contentExtension(const uint8_t* data, size_t size, const std::string& className = "");

// The files of one attachment field, read one at a time.
class AttachmentFiles {
 public:
  AttachmentFiles(std::shared_ptr<DatabaseFile> file, const ComplexColumn& column);
  ~AttachmentFiles();
  // Each file of the record whose field holds `key`, in stored order: its name and its bytes as
  // attached. Throws ComError naming the database for a file that cannot be decoded.
  size_t count(uint32_t key);  // the files behind `key`
  bool holdsFiles();           // false for a column whose values are no attachments
  void forEach(uint32_t key, const std::function<void(const std::string& name, const std::vector<uint8_t>& bytes)>& each);

 private:
  std::shared_ptr<DatabaseFile> file_;
  std::string column_;
  std::unique_ptr<ComplexColumnValues> values_;
};
