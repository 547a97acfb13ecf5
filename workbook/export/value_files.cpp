#include "workbook/export/value_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/write_whole.h"
#include "source/dao_types.h"
#include "source/engine.h"
#include "source/whole_values.h"
#include "workbook/book.h"
#include "workbook/export/link_cells.h"
#include "workbook/hyperlinks.h"
#include "workbook/text.h"

namespace {

// Names a second value would take: "name~2.ext", "name~3.ext", ...
constexpr int kMostTwins = 100000;

std::string systemReason(int error) { return std::strerror(error); }

// Splits "name.ext" at its last dot (a leading dot starts no extension).
void splitExtension(const std::string& name, std::string& stem, std::string& extension) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) {
    stem = name;
    extension.clear();
  } else {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
}

std::string twinName(const std::string& name, int number) {
  if (number == 1) return name;
  std::string stem, extension;
  splitExtension(name, stem, extension);
  return stem + "~" + std::to_string(number) + extension;
}

// A link into the value files folder, named relative to the workbook's folder: no absolute path,
// no URL, no step up or into the same folder.
bool linksIntoFolder(const std::string& address, const std::string& filesFolder) {
  if (address.compare(0, filesFolder.size() + 1, filesFolder + "/") != 0) return false;
  for (size_t at = 0; at <= address.size();) {
    size_t slash = std::min(address.find('/', at), address.size());
    std::string name = address.substr(at, slash - at);
    if (name.empty() || name == "." || name == "..") return false;
    at = slash + 1;
  }
  return true;
}

}  // namespace

std::string valueFilesFolder(const std::string& workbookPath) {
  size_t slash = workbookPath.rfind('/');
  size_t dot = workbookPath.rfind('.');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)
                         ? workbookPath.substr(0, dot)
                         : workbookPath;
  return stem + "_files";
}

std::string safeFileName(const std::string& name) {
  std::string out;
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    out += c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) ? '_' : ch;
  }
  out = cleanUtf8(out.c_str(), out.size());  // bytes of no character become U+FFFD
  if (!out.empty() && out[0] == '.') out[0] = '_';
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.back() = '_';
  if (out.empty()) out = "_";
  if (out.size() > kLongestFileName) {
    std::string stem, extension;
    splitExtension(out, stem, extension);
    size_t room = kLongestFileName - std::min(extension.size(), kLongestFileName / 2);
    size_t cut = std::min(room, stem.size());
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    out = stem.substr(0, cut) + extension.substr(0, kLongestFileName - cut);
  }
  return out;
}

bool textLongerThanCell(const Variant& value) {
  if (value.vt == VT_BSTR) return value.text.size() > kCellTextLimit && utf16Length(value.text) > kCellTextLimit;
  return value.vt == VT_BYTES && value.bytes.size() * 2 > kCellTextLimit;  // written as hexadecimal digits
}

TableValueFiles::TableValueFiles(const Database& database, const std::string& tableName, const Fields& definition,
                                 const std::string& workbookPath, std::vector<std::string>& made,
                                 FormatHandle linkLook)
    : linkLook_(linkLook), made_(made) {
  std::string folder = valueFilesFolder(workbookPath);
  size_t slash = folder.rfind('/');
  bookFolder_ = slash == std::string::npos ? "" : folder.substr(0, slash + 1);
  filesFolder_ = folder.substr(bookFolder_.size());
  for (int c = 0; c < definition.Count(); ++c) {
    Field field = definition.Item(c);
    int16_t type = field.Type();
    Kind kind = Kind::None;
    std::unique_ptr<AttachmentFiles> files;
    if (type == dbAttachment) {
      files = database.OpenAttachments(tableName, field.Name());
      if (files) kind = Kind::Attachment;
    } else if (type == dbLongBinary) {
      kind = Kind::Ole;
    } else if (type == dbMemo || type == dbText) {
      kind = Kind::Text;
    }
    kinds_.push_back(kind);
    names_.push_back(field.Name());
    attachments_.push_back(std::move(files));
  }
}

TableValueFiles::~TableValueFiles() = default;

void removeMadeValueFiles(std::vector<std::string>& made) {
  for (auto path = made.rbegin(); path != made.rend(); ++path) std::remove(path->c_str());
  made.clear();
}

bool TableValueFiles::keepsRawValue(int field) const { return kinds_.at(static_cast<size_t>(field)) == Kind::Ole; }

std::string TableValueFiles::sheetFolder(SheetHandle sheet) {
  auto found = sheetFolders_.find(sheet);
  if (found != sheetFolders_.end()) return found->second;
  std::string folder = filesFolder_ + "/" + safeFileName(xlSheetNameA(sheet));
  // Each level that is new is the job's own, to be removed if the job is not saved.
  std::vector<std::string> fresh;
  std::error_code made;
  for (std::filesystem::path level = bookFolder_ + folder; !level.empty() && !std::filesystem::exists(level, made);
       level = level.parent_path())
    fresh.push_back(level.string());
  std::filesystem::create_directories(bookFolder_ + folder, made);
  for (auto level = fresh.rbegin(); level != fresh.rend(); ++level)
    if (std::filesystem::is_directory(*level)) made_.push_back(*level);
  if (made) throw ValueFileError{bookFolder_ + folder, made.message()};
  sheetFolders_[sheet] = folder;
  return folder;
}

// Writes a new file into the folder (relative to the workbook's), never over another one: a
// name taken already gets "~2", "~3"... Returns the file's path relative to the workbook's folder.
std::string TableValueFiles::writeFile(const std::string& folder, const std::string& name, const uint8_t* data,
                                       size_t size) {
  for (int number = 1; number <= kMostTwins; ++number) {
    std::string relative = folder + "/" + twinName(name, number);
    std::string path = bookFolder_ + relative;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) throw ValueFileError{path, systemReason(errno)};
    made_.push_back(path);
    bool written = writeWhole(fd, data, size);
    int error = errno;
    if (::close(fd) != 0 && written) written = false, error = errno;
    if (!written) {
      if (::unlink(path.c_str()) == 0) made_.pop_back();  // no file half written
      throw ValueFileError{path, systemReason(error ? error : EIO)};
    }
    return relative;
  }
  throw ValueFileError{bookFolder_ + folder + "/" + name, "too many files of that name"};
}

// A new folder in the folder, named as writeFile names files.
std::string TableValueFiles::makeFolder(const std::string& folder, const std::string& name) {
  for (int number = 1; number <= kMostTwins; ++number) {
    std::string relative = folder + "/" + twinName(name, number);
    std::string path = bookFolder_ + relative;
    if (::mkdir(path.c_str(), 0777) == 0) {
      made_.push_back(path);
      return relative;
    }
    if (errno != EEXIST) throw ValueFileError{path, systemReason(errno)};
  }
  throw ValueFileError{bookFolder_ + folder + "/" + name, "too many folders of that name"};
}

bool TableValueFiles::write(SheetHandle sheet, int row, int field, Variant& value) {
  const size_t f = static_cast<size_t>(field);
  const Kind kind = kinds_.at(f);
  if (kind == Kind::None || value.isNull()) return false;
  // Files are named by the record's row as the sheet shows it and the field.
  const std::string prefix = "row" + std::to_string(row + 1) + "_" + names_[f];
  std::string link;
  if (kind == Kind::Text) {
    if (!textLongerThanCell(value) || value.vt != VT_BSTR) return false;
    link = writeFile(sheetFolder(sheet), safeFileName(prefix + ".txt"),
                     reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size());
    writeValidUtf8Cell(sheet, row, field, value.text, linkLook_);  // cut to what a cell holds
  } else if (kind == Kind::Ole) {
    if (value.vt != VT_BYTES) return false;
    OleContent content = oleContent(value.bytes);
    if (content.linked) return false;  // no file here: the cell shows what is stored
    const uint8_t* data = value.bytes.data() + content.offset;
    std::string name = content.name.empty()
                           ? prefix + contentExtension(data, content.size, content.className)
                           : prefix + "_" + content.name;
    link = writeFile(sheetFolder(sheet), safeFileName(name), data, content.size);
    std::string shown = linkLook_ ? oleObjectText(content) : link.substr(link.rfind('/') + 1);
    writeValidUtf8Cell(sheet, row, field, shown, linkLook_);
  } else {
    if (value.vt != VT_BSTR || !attachments_[f]) return false;
    // One file: beside the others; several: a folder of the record's own.
    uint32_t key = static_cast<uint32_t>(value.integer);
    const size_t count = attachments_[f]->count(key);
    if (count == 0) return false;
    std::string folder;
    if (count > 1) folder = makeFolder(sheetFolder(sheet), safeFileName(prefix));
    attachments_[f]->forEach(key, [&](const std::string& name, const std::vector<uint8_t>& bytes) {
      std::string file = count > 1 ? safeFileName(name) : safeFileName(prefix + "_" + name);
      std::string written = writeFile(count > 1 ? folder : sheetFolder(sheet), file, bytes.data(), bytes.size());
      if (count == 1) link = written;
    });
    if (count > 1) link = folder;
    writeValidUtf8Cell(sheet, row, field, value.text, linkLook_);
  }
  if (!link.empty()) xlSheetSetHyperlinkA(sheet, row, field, link.c_str(), nullptr);
  return true;
}

void removeLinkedValueFiles(BookHandle book, const std::string& workbookPath, bool loaded) {
  std::string folder = valueFilesFolder(workbookPath);
  size_t slash = folder.rfind('/');
  std::string bookFolder = slash == std::string::npos ? "" : folder.substr(0, slash + 1);
  std::string filesFolder = folder.substr(bookFolder.size());
  std::set<std::string> emptied;  // folders that may be empty now, relative to the book's folder
  auto remove = [&](const std::string& address) {
    if (!linksIntoFolder(address, filesFolder)) return;
    std::string path = bookFolder + address;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      // A record's folder of attachments: its files, not what may lie deeper.
      std::error_code listed;
      for (const auto& entry : std::filesystem::directory_iterator(path, listed))
        if (entry.is_regular_file(listed) && !entry.is_symlink(listed)) ::unlink(entry.path().c_str());
      emptied.insert(address);
    } else if (S_ISREG(st.st_mode) && ::unlink(path.c_str()) != 0) {
      return;
    }
    for (size_t up = address.rfind('/'); up != std::string::npos && up > 0; up = address.rfind('/', up - 1))
      emptied.insert(address.substr(0, up));
  };
  if (loaded) forEachLoadedLinkAddress(*book, remove);
  else forEachWrittenLinkAddress(*book, remove);
  // Deepest first: a longer name of the same branch sorts after its parent.
  for (auto it = emptied.rbegin(); it != emptied.rend(); ++it) ::rmdir((bookFolder + *it).c_str());
}
