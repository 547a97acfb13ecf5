// Reading workbooks back with the independent readers (openpyxl for .xlsx, xlrd for .xls).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "workbook/xl.h"

namespace wbtest {

// A cell as a reader sees it: type "n" number, "b" boolean, "s" text, "e" error.
struct ReadCell {
  std::string type;
  double number = 0;
  std::string text;
};

struct ReadSheet {
  std::string name;
  std::map<std::pair<int, int>, ReadCell> cells;  // (row, col), zero-based
  int rows = 0;                                   // the reader's row count
};

// Every sheet and cell of the file, read by openpyxl (.xlsx) or xlrd (.xls).
std::vector<ReadSheet> readBack(const std::filesystem::path& file);

// Undoes the _xHHHH_ escapes of a text read from an .xlsx, as Excel does when it opens one.
std::string unescapeExcel(const std::string& text);

// RAII book handle.
struct Book {
  BookHandle h;
  explicit Book(BookHandle b) : h(b) {}
  ~Book() { xlBookReleaseA(h); }
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;
  operator BookHandle() const { return h; }
};

}  // namespace wbtest
