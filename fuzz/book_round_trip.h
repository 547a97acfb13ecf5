// The body of the workbook loaders' fuzz targets: each input is loaded as a book; a book that
// loads is read, extended (cells below every writable sheet's rows, a new sheet with a few
// cells and a link), saved into a temporary folder and loaded again. A failed load must leave the
// book as it was; a save that fails must leave nothing behind; the saved book must load.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/memory_file.h"
#include "workbook/xl.h"

namespace fuzzbook {

[[noreturn]] inline void finding(const char* what, BookHandle book) {
  std::fprintf(stderr, "fuzz: %s (%s)\n", what, book ? xlBookErrorMessageA(book) : "");
  std::abort();
}

// One folder per process for the saved books, emptied after every input.
inline const std::filesystem::path& saveFolder() {
  static const ScratchFolder folder("quarlex-book-fuzz");
  return folder.path();
}

inline void readSheets(BookHandle book) {
  for (int i = 0; i < xlBookSheetCountA(book); ++i) {
    SheetHandle sheet = xlBookGetSheetA(book, i);
    if (!sheet) finding("a counted sheet is missing", book);
    (void)xlSheetNameA(sheet);
    (void)xlSheetLastRowA(sheet);
  }
}

inline void roundTrip(const uint8_t* data, size_t size, bool xml) {
  MemoryFile input(data, size, xml ? "fuzz.xlsx" : "fuzz.xls");
  const std::string path = input.path();
  (void)xlFileIsWorkbookA(path.c_str());
  BookHandle book = xml ? xlCreateXMLBookCA() : xlCreateBookCA();
  SheetHandle before = xlBookAddSheetA(book, "Before", nullptr);
  if (!xlBookLoadA(book, path.c_str())) {
    if (xlBookSheetCountA(book) != 1 || xlBookGetSheetA(book, 0) != before)
      finding("a failed load changed the book", book);
    xlBookReleaseA(book);
    return;
  }
  readSheets(book);
  for (int i = 0; i < xlBookSheetCountA(book); ++i) {
    SheetHandle sheet = xlBookGetSheetA(book, i);
    const int row = xlSheetLastRowA(sheet);
    xlSheetWriteStrA(sheet, row, 0, "below", nullptr);
    xlSheetWriteNumA(sheet, row, 1, 2.5, nullptr);
  }
  if (xlBookSheetCountA(book) > 1) xlBookDelSheetA(book, 0);
  SheetHandle added = xlBookAddSheetA(book, "Fuzz added", nullptr);
  if (!added) added = xlBookAddSheetA(book, "Fuzz added 2", nullptr);
  if (added) {
    xlSheetWriteStrA(added, 0, 0, "text", nullptr);
    xlSheetWriteNumA(added, 0, 1, -1e300, nullptr);
    xlSheetWriteBoolA(added, 1, 0, 1, nullptr);
    xlSheetSetHyperlinkA(added, 1, 1, "https://example.com/a b", nullptr);
  }
  const std::filesystem::path& folder = saveFolder();
  const std::filesystem::path saved = folder / (xml ? "saved.xlsx" : "saved.xls");
  const bool savedOk = xlBookSaveA(book, saved.c_str()) != 0;
  xlBookReleaseA(book);
  int left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) left += entry.path() != saved;
  if (left != 0) finding("a save left a temporary file beside the book", nullptr);
  if (savedOk) {
    BookHandle again = xml ? xlCreateXMLBookCA() : xlCreateBookCA();
    if (!xlBookLoadA(again, saved.c_str())) finding("a saved book does not load", again);
    readSheets(again);
    xlBookReleaseA(again);
  }
  std::filesystem::remove(saved);
}

}  // namespace fuzzbook
