// The one options record of a run or of a library call. Every part of the converter receives a
// pointer to the same instance and reads and writes its fields directly; nobody copies it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/saved_query.h"

class Database;     // source/engine.h: the open source database
struct XlBook;      // workbook/xl.h: a workbook handle (BookHandle)
class OwnerWindow;  // platform/owner_window.h: the window a job reports to, or none
struct TitleFont;   // app/: the bold title font of the welcome and result pages

// A text the record owns that may be absent ("none"), distinct from an empty text.
using OwnedText = std::optional<std::string>;

struct ConversionOptions {
  TitleFont* titleFont = nullptr;             // owned by the program, which deletes it at its end
  std::shared_ptr<Database> database;         // the open source database, or none
  XlBook* book = nullptr;                     // the workbook of the current job; invalid after release
  std::string sourcePath;                     // may hold * and ? for a batch
  std::string outputPath;
  std::string outputFolder;                   // prefix of derived output names in program batches
  std::string password;                       // empty means none
  int32_t overwriteFile = 0;                  // 0 load and extend; 1 or 2 replace the file
  int32_t overwriteTable = 0;                 // 0 append to a same-named sheet; 1 or 2 replace it
  OwnerWindow* progressWindow = nullptr;      // the wizard's progress page, a terminal's line, or none
  OwnedText selectedTables;                   // ;A;;B; — tables to export, names as the database spells them
  OwnedText tableFilter;                      // ;ORDERS;CUSTOMERS; from TABLES=, upper case; queries too
  int32_t exportQueries = 0;                  // QUERIES=1: every select, union and crosstab query after the tables
  std::string selectedQueries;                // ;Q1;;Q2; — saved queries to export, as the database spells them
  std::string namedQueries;                   // those of them TABLES= named: a missing parameter is then an error
  QueryParameterValues parameters;            // PARAMETERS=Name=Value;...
  std::string tablesAsWritten;                // ;Orders;Customers; from TABLES=, as the user spelled them
  std::vector<std::string> givenSources;      // every database path of the command line, in order
  int32_t exportRecords = 1;                  // 0: header rows only
  int32_t maxLength = 0;                      // carried only
  int32_t bookType = 0;                       // 0 .xls, 1 .xlsx
  int32_t writeHeader = 1;
  int32_t headerOnlyForNewSheets = 0;
  std::string sortOrder;                      // carried only, at most 100 characters
  OwnedText onlyFields;                       // carried only
  OwnedText columnList;                       // carried only
  int32_t firstColumn = 0;                    // carried only
  int32_t lastColumn = 0;                     // carried only
  std::atomic<int32_t> cancelRequested{0};    // set by the interface thread, read by the worker
  int32_t tablesExported = 0;                 // adds up over all jobs of the record's life
  int32_t recordsExported = 0;
  std::vector<std::string> failedTables;      // tables whose export met a failure, over all jobs too
  std::vector<std::string> madeValueFiles;    // the job's value files and folders, in making order
  bool valueFileFailed = false;               // a value's file could not be written: the job is not saved
  int32_t logEnabled = 0;
  int32_t openOutput = 1;
  int32_t batch = 0;
  int32_t wait = 0;
  int32_t silent = 0;
  std::string statusFile;                     // empty means none
  int32_t typedCells = 0;                     // CELLS=TYPED: date cells, number formats, exact big numbers
  int32_t tableLayout = 0;                    // LAYOUT=TABLE: bold frozen header, autofilter, fitted widths
  int32_t rowLimit = 0;                       // ROWS=N: last row index a record may take; 0 the default
  int32_t valueFiles = 0;                     // FILES=1: values no cell holds whole go to files beside the book
  int32_t codePage = 0;                       // CODEPAGE=N: of an Access 97 file's texts; 0 its header's, -1 no number

  ConversionOptions() = default;
  ConversionOptions(const ConversionOptions&) = delete;
  ConversionOptions& operator=(const ConversionOptions&) = delete;
};

// The largest ROWS= value kept: the last row of an .xlsx sheet. Each format cuts it to its own.
inline constexpr int32_t kLargestRowLimit = 1048575;

// The longest ORDER= value kept.
inline constexpr size_t kSortOrderMaxLength = 100;
