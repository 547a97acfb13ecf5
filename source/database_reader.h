// Opens the source database into the options record and lists its user tables, then its select,
// union and crosstab queries: into the owner window's list when there is one, else into the
// record's selected-table and selected-query lists (queries when /QUERIES=1 or /TABLES= names them).
#pragma once

#include <string>

#include "options/conversion_options.h"
#include "source/engine.h"
#include "source/open_failure.h"

// What the reader needs of the source page: its password field and its table list.
class SourceWindow {
 public:
  virtual ~SourceWindow() = default;
  virtual std::string passwordText() = 0;
  virtual void resetTableList() = 0;
  virtual void addTable(const std::string& name) = 0;
  virtual void selectAllTables() = 0;  // the tables; queries are not selected at first
  virtual void addQuery(const std::string& name) { (void)name; }
  // The database did not open; `reason` is the engine's description of why.
  virtual void openFailed(const std::string& reason) { (void)reason; }
};

// The engine the reader creates; set once by each deliverable at start-up (default Dao36).
void setReaderEngineFlavour(EngineFlavour flavour);
EngineFlavour readerEngineFlavour();

// 0 when the database is open and its tables are listed (or nothing had to be done), 1 when the
// open or the reading of its table definitions failed. `owner` may be null; `path` may be empty
// (the record's sourcePath is then opened). On failure `failure`, when given, receives the line
// shown after "Cannot open the database FILE.": "FILE: REASON" (see openFailureReason).
int OpenSourceDatabase(SourceWindow* owner, ConversionOptions* options, const std::string& path,
                       std::string* failure = nullptr);

