// The C functions of xl.h: argument checks, the row buffer, and the safe save.
#include "workbook/xl.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "workbook/formats.h"
#include "workbook/hyperlinks.h"
#include "workbook/text.h"
#include "workbook/xls/compound_file.h"
#include "workbook/xls/globals.h"
#include "workbook/xls/records.h"
#include "workbook/xlsx/package.h"

XlBook::XlBook() = default;
XlBook::~XlBook() = default;

int fail(XlBook* book, std::string message) {
  if (book) book->error = std::move(message);
  return 0;
}

namespace {

std::string sheetLabel(const XlSheet& s) { return "sheet \"" + s.name + "\""; }

// Text buffers a sheet keeps for the text cells of its next rows, and the largest it keeps.
constexpr size_t kSpareTexts = 256, kSpareTextBytes = 4096;
constexpr size_t kKeptRowBytes = 1 << 20;  // a row buffer larger than this is not kept

// The system's reason for the temporary-file failure that just happened, when it left one.
std::string systemReason() { return errno ? std::string(": ") + std::strerror(errno) : std::string(); }

}  // namespace

bool flushPendingRow(XlSheet& s) {
  if (s.pendingRow < 0) return true;
  XlBook* book = s.book;
  std::string error;
  // A row that cannot be kept fails the save too: a book without it would be short of rows.
  if (!s.rows.isOpen() && !s.rows.open(book->xml, &error)) {
    if (s.tempFailure.empty()) s.tempFailure = error;
    return fail(book, error);
  }
  auto byColumn = [](const Cell& a, const Cell& b) { return a.col < b.col; };
  if (!std::is_sorted(s.pending.begin(), s.pending.end(), byColumn))  // rows mostly come in order
    std::sort(s.pending.begin(), s.pending.end(), byColumn);
  std::string& out = s.rowBytes;
  out.clear();
  if (book->xml) {
    xlsx::appendRow(s, s.pendingRow, s.pending, out);
  } else if (!xls::appendRow(s, s.pendingRow, s.pending, out)) {
    return false;
  }
  errno = 0;
  if (!s.rows.write(out)) {
    if (s.tempFailure.empty()) s.tempFailure = "cannot write the temporary file of " + sheetLabel(s) + systemReason();
    return fail(book, s.tempFailure);
  }
  if (out.capacity() > kKeptRowBytes) std::string().swap(out);  // after a row of long texts
  // Text buffers of ordinary size serve the next row's texts: no allocation per text cell.
  for (Cell& c : s.pending)
    if (c.kind == CellKind::Text && c.text.capacity() <= kSpareTextBytes && s.spareTexts.size() < kSpareTexts)
      s.spareTexts.push_back(std::move(c.text));
  s.pending.clear();
  s.pendingRow = -1;
  return true;
}

namespace {

int writeCell(XlSheet* s, int row, int col, Cell cell, FormatHandle format) {
  if (!s) return 0;
  XlBook* book = s->book;
  if (format && format->book != book) return fail(book, "a cell of " + sheetLabel(*s) + " cannot take another book's format");
  cell.xf = format ? format->xf : 0;
  if (!s->writable) return fail(book, sheetLabel(*s) + " cannot take cells");
  int maxRows = book->xml ? kXlsxRows : kXlsRows, maxCols = book->xml ? kXlsxCols : kXlsCols;
  if (row < 0 || col < 0 || row >= maxRows || col >= maxCols)
    return fail(book, "cell (" + std::to_string(row) + ", " + std::to_string(col) +
                          ") is outside the " + std::to_string(maxRows) + " rows and " +
                          std::to_string(maxCols) + " columns of " + sheetLabel(*s));
  if (row < s->firstFreeRow)
    return fail(book, "row " + std::to_string(row) + " of " + sheetLabel(*s) +
                          " is among its loaded rows; new rows start at " +
                          std::to_string(s->firstFreeRow));
  if (row < s->pendingRow)
    return fail(book, "row " + std::to_string(row) + " of " + sheetLabel(*s) +
                          " comes after row " + std::to_string(s->pendingRow) +
                          ": rows are written in increasing order");
  if (book->lastWritten != s) {
    // The export moved on to another sheet: the last one's compressor is not needed meanwhile.
    errno = 0;
    if (book->lastWritten && !book->lastWritten->rows.pause()) {
      XlSheet& last = *book->lastWritten;
      if (last.tempFailure.empty()) last.tempFailure = "cannot write the temporary file of " + sheetLabel(last) + systemReason();
      return fail(book, last.tempFailure);
    }
    book->lastWritten = s;
  }
  if (row > s->pendingRow) {
    if (!flushPendingRow(*s)) return 0;
    s->pendingRow = row;
  }
  cell.col = col;
  auto same = std::find_if(s->pending.begin(), s->pending.end(),
                           [col](const Cell& c) { return c.col == col; });
  if (same != s->pending.end()) *same = std::move(cell);
  else s->pending.push_back(std::move(cell));
  s->lastRow = std::max(s->lastRow, row + 1);
  if (s->firstWrittenRow < 0) s->firstWrittenRow = row;
  s->minCol = s->minCol < 0 ? col : std::min(s->minCol, col);
  s->maxCol = std::max(s->maxCol, col);
  return 1;
}

XlBook* makeBook(bool xml) {
  auto* book = new (std::nothrow) XlBook;
  if (!book) return nullptr;
  book->xml = xml;
  if (xml) xlsx::startBook(*book);
  else xls::startBook(*book);
  return book;
}

}  // namespace

BookHandle xlCreateBookCA(void) { return makeBook(false); }
BookHandle xlCreateXMLBookCA(void) { return makeBook(true); }

int xlBookSetLocaleA(BookHandle book, const char*) { return book ? 1 : 0; }

namespace {

enum class FileKind { Missing, Unreadable, Other, Compound, Zip, Biff8Stream, OldBiff };

// What the file's first bytes say it is.
FileKind sniffFile(const char* filename, std::string& reason) {
  int fd = open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return errno == ENOENT ? FileKind::Missing : FileKind::Unreadable;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    reason = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
    close(fd);
    return FileKind::Unreadable;
  }
  unsigned char head[8] = {};
  ssize_t got = read(fd, head, sizeof head);
  int readErrno = errno;
  close(fd);
  if (got < 0) {
    reason = std::strerror(readErrno);
    return FileKind::Unreadable;
  }
  size_t n = static_cast<size_t>(got);
  if (xls::hasCompoundSignature(reinterpret_cast<const char*>(head), n)) return FileKind::Compound;
  if (n >= 4 && head[0] == 'P' && head[1] == 'K' && head[2] < 9 && head[3] < 9) return FileKind::Zip;
  if (n >= 4) {
    // A BIFF record at the start: a BOF record of one of the versions, with a plausible length.
    uint16_t type = le::get16(head), size = le::get16(head + 2);
    bool bofSize = size >= 4 && size <= 32;
    if (bofSize && type == xls::kBof) return FileKind::Biff8Stream;
    if (bofSize && (type == xls::kBof2 || type == xls::kBof3 || type == xls::kBof4)) return FileKind::OldBiff;
  }
  return FileKind::Other;
}

// Why a file of this kind is not a book of the other format, or empty when it may be one.
std::string formatMismatch(bool xml, FileKind kind, const char* filename) {
  switch (kind) {
    case FileKind::Compound: {
      if (!xml) return "";
      // Office keeps an encrypted .xlsx inside a compound file.
      xls::CompoundFile cf;
      std::string error;
      if (xls::openCompoundFile(filename, uint64_t{1} << 30, cf, error) && xls::findRootStream(cf, "EncryptedPackage") >= 0)
        return "the workbook is encrypted";
      return "the file is an .xls workbook, not an .xlsx one";
    }
    case FileKind::Zip: return xml ? "" : "the file is an .xlsx workbook, not an .xls one";
    case FileKind::OldBiff: return "Excel 2 to 4 workbooks (BIFF2 to BIFF4) cannot be extended";
    case FileKind::Biff8Stream:
      return xml ? "the file is an .xls workbook, not an .xlsx one"
                 : "a bare BIFF stream outside a compound file cannot be extended";
    default: return "";
  }
}

}  // namespace

int xlFileIsWorkbookA(const char* filename) {
  if (!filename || !*filename) return 0;
  std::string reason;
  FileKind kind = sniffFile(filename, reason);
  // A file that cannot even be read may well be a workbook: it is never taken for something else.
  return kind != FileKind::Missing && kind != FileKind::Other ? 1 : 0;
}

int xlBookLoadA(BookHandle book, const char* filename) {
  if (!book) return 0;
  if (!filename || !*filename) return fail(book, "cannot load a workbook: no file name given");
  std::string error;
  FileKind kind = sniffFile(filename, error);
  if (kind == FileKind::Missing || kind == FileKind::Unreadable) return fail(book, std::string(filename) + ": " + error);
  error = formatMismatch(book->xml, kind, filename);
  if (!error.empty()) return fail(book, std::string(filename) + ": " + error);
  XlBook fresh;
  fresh.xml = book->xml;
  bool ok = book->xml ? xlsx::loadBook(fresh, filename, error) : xls::loadBook(fresh, filename, error);
  if (!ok) return fail(book, std::string(filename) + ": " + error);
  book->sheets = std::move(fresh.sheets);
  book->lastWritten = nullptr;
  for (auto& s : book->sheets) s->book = book;
  book->xlsx = std::move(fresh.xlsx);
  book->xls = std::move(fresh.xls);
  book->date1904 = fresh.date1904;
  book->error = "ok";
  // Formats made before the load go after the loaded book's own.
  book->formatBase = -1;
  if (!book->formats.empty() && !assignFormatIndices(*book)) return 0;
  return 1;
}

int xlBookIsDate1904A(BookHandle book) { return book && book->date1904 ? 1 : 0; }

int xlBookSheetCountA(BookHandle book) { return book ? static_cast<int>(book->sheets.size()) : 0; }

SheetHandle xlBookGetSheetA(BookHandle book, int index) {
  if (!book || index < 0 || index >= static_cast<int>(book->sheets.size())) {
    fail(book, "no sheet at index " + std::to_string(index));
    return nullptr;
  }
  return book->sheets[static_cast<size_t>(index)].get();
}

const char* xlSheetNameA(SheetHandle sheet) { return sheet ? sheet->name.c_str() : nullptr; }
int xlSheetLastRowA(SheetHandle sheet) { return sheet ? sheet->lastRow : 0; }

int xlBookDelSheetA(BookHandle book, int index) {
  if (!book) return 0;
  if (index < 0 || index >= static_cast<int>(book->sheets.size()))
    return fail(book, "cannot delete sheet " + std::to_string(index) + ": no such sheet");
  const XlSheet& s = *book->sheets[static_cast<size_t>(index)];
  if (book->lastWritten == &s) book->lastWritten = nullptr;
  if (book->xml) xlsx::forgetSheet(*book, s);
  else xls::forgetSheet(*book, s);
  book->sheets.erase(book->sheets.begin() + index);
  return 1;
}

SheetHandle xlBookAddSheetA(BookHandle book, const char* name, SheetHandle initSheet) {
  if (!book) return nullptr;
  if (initSheet) {
    fail(book, "cannot add a sheet as a copy of another");
    return nullptr;
  }
  if (!name || !sheetNameAllowed(name)) {
    fail(book, std::string("cannot add a sheet named \"") + (name ? name : "") +
                   "\": Excel does not allow that name");
    return nullptr;
  }
  for (auto& s : book->sheets)
    if (sameSheetName(s->name, name)) {
      fail(book, std::string("cannot add a sheet named \"") + name + "\": sheet \"" + s->name +
                     "\" has that name already");
      return nullptr;
    }
  auto s = std::make_unique<XlSheet>();
  s->book = book;
  s->name = name;
  book->sheets.push_back(std::move(s));
  return book->sheets.back().get();
}

int xlSheetWriteStrA(SheetHandle sheet, int row, int col, const char* value, FormatHandle format) {
  if (!sheet) return 0;
  if (!value) return fail(sheet->book, "no text given for a text cell");
  Cell c;
  c.kind = CellKind::Text;
  c.text = cleanUtf8(value, kCellTextLimit);
  return writeCell(sheet, row, col, std::move(c), format);
}

int writeValidUtf8Cell(XlSheet* sheet, int row, int col, std::string_view utf8, XlFormat* format) {
  if (!sheet) return 0;
  Cell c;
  c.kind = CellKind::Text;
  if (!sheet->spareTexts.empty()) {
    c.text = std::move(sheet->spareTexts.back());
    sheet->spareTexts.pop_back();
  }
  c.text.assign(utf8);
  cutValidUtf8(c.text, kCellTextLimit);
  return writeCell(sheet, row, col, std::move(c), format);
}

int xlSheetWriteNumA(SheetHandle sheet, int row, int col, double value, FormatHandle format) {
  Cell c;
  // Neither format can hold an infinity or a NaN: such a value becomes the #NUM! error.
  c.kind = std::isfinite(value) ? CellKind::Number : CellKind::NumError;
  c.number = value;
  return writeCell(sheet, row, col, std::move(c), format);
}

int xlSheetWriteBoolA(SheetHandle sheet, int row, int col, int value, FormatHandle format) {
  Cell c;
  c.kind = CellKind::Boolean;
  c.number = value ? 1 : 0;
  return writeCell(sheet, row, col, std::move(c), format);
}

int xlSheetSetHyperlinkA(SheetHandle sheet, int row, int col, const char* address, const char* location) {
  if (!sheet) return 0;
  XlBook* book = sheet->book;
  if (!sheet->writable) return fail(book, sheetLabel(*sheet) + " cannot take links");
  int maxRows = book->xml ? kXlsxRows : kXlsRows, maxCols = book->xml ? kXlsxCols : kXlsCols;
  if (row < 0 || col < 0 || row >= maxRows || col >= maxCols || row < sheet->firstFreeRow)
    return fail(book, "cell (" + std::to_string(row) + ", " + std::to_string(col) + ") of " + sheetLabel(*sheet) +
                          " cannot take a link");
  Hyperlink link{row, col, address ? address : "", location ? location : ""};
  if (link.address.empty() && link.location.empty()) return fail(book, "a link needs an address or a location");
  return keepHyperlink(*sheet, link) ? 1 : 0;
}

int xlBookSaveA(BookHandle book, const char* filename) {
  if (!book) return 0;
  if (!filename || !*filename) return fail(book, "cannot save a workbook: no file name given");
  std::string target = filename;
  if (book->sheets.empty()) return fail(book, target + ": a workbook needs at least one sheet");
  for (auto& s : book->sheets) {
    errno = 0;
    if (!s->tempFailure.empty()) return fail(book, target + ": " + s->tempFailure);
    if (s->rows.isOpen() && !s->rows.sync()) {
      if (s->tempFailure.empty()) s->tempFailure = "the temporary file of " + sheetLabel(*s) + " failed" + systemReason();
      return fail(book, target + ": " + s->tempFailure);
    }
    if (s->links.isOpen() && !s->links.sync()) return fail(book, target + ": the links of " + sheetLabel(*s) + " failed" + systemReason());
  }
  std::string error;
  // Excel opens a .xlsm only when its package says it may hold macros.
  const bool macroEnabled = asciiEndsWithIgnoreCase(target, ".xlsm");
  bool ok = replaceFileAtomically(target, [&](const std::string& temp, std::string& why) {
    return book->xml ? xlsx::saveBook(*book, temp, macroEnabled, why) : xls::saveBook(*book, temp, why);
  }, error);
  if (!ok) return fail(book, target + ": " + error);
  book->error = "ok";
  return 1;
}

void xlBookReleaseA(BookHandle book) { delete book; }

const char* xlBookErrorMessageA(BookHandle book) { return book ? book->error.c_str() : "no book"; }
