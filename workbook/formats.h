// What the C functions of xl.h ask of each file format.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "workbook/book.h"

namespace xlsx {
void startBook(XlBook& book);
// Fills the empty book from the file; false with a reason when the file is not a usable .xlsx.
bool loadBook(XlBook& book, const std::string& path, std::string& error);
// macroEnabled: the workbook part gets (or keeps) the macro-enabled main content type of .xlsm.
bool saveBook(XlBook& book, const std::string& tempPath, bool macroEnabled, std::string& error);
void forgetSheet(XlBook& book, const XlSheet& sheet);  // before the sheet leaves the book
// The addresses of the loaded file's external links: URLs and file paths as the file has them.
bool forEachLoadedLink(const XlBook& book, const std::function<void(const std::string&)>& each, std::string& error);
void appendRow(const XlSheet& sheet, int row, const std::vector<Cell>& cells, std::string& out);
// The cell formats the book holds before those of xl.h: -1 with a reason when unknown.
int cellFormatCount(const XlBook& book, std::string& error);
// The styles part as saved when the book has formats of xl.h (part empty when it has none).
bool stylesForSave(const XlBook& book, std::string& part, std::string& xml, std::string& error);
}  // namespace xlsx

namespace xls {
void startBook(XlBook& book);
bool loadBook(XlBook& book, const std::string& path, std::string& error);
bool saveBook(XlBook& book, const std::string& tempPath, std::string& error);
void forgetSheet(XlBook& book, const XlSheet& sheet);
// Texts go to the book's shared strings, so this may fail when their temporary file does.
bool appendRow(XlSheet& sheet, int row, const std::vector<Cell>& cells, std::string& out);
int cellFormatCount(const XlBook& book);  // the book's XF records
// The file paths of the loaded sheets' HLINK records ("/" between names, "../" steps kept).
bool forEachLoadedLink(const XlBook& book, const std::function<void(const std::string&)>& each, std::string& error);
}  // namespace xls
