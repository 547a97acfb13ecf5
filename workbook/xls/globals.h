// The workbook globals of a BIFF8 stream: the records before the first sheet, kept as loaded
// (or made for a new book) and adjusted on save for the sheets that came and went.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/xls/compound_file.h"
#include "workbook/xls/shared_strings.h"

namespace xls {

struct GlobalRecord {
  uint16_t type;
  std::string body;
};

// A sheet of the loaded stream.
struct SourceSheet {
  std::string boundSheet;   // its BOUNDSHEET body, offset field included
  size_t start = 0, end = 0;  // its substream in the loaded stream
  bool worksheet = false;
  size_t dimensions = 0;    // offset of the DIMENSIONS record in the stream, 0 if none
  size_t index = 0;         // offset of the INDEX record, 0 if none
  size_t insertAt = 0;      // where new cell records go
  size_t linksAt = 0;       // where new HLINK records go: before the records that follow them
  int lastRow = 0;
  uint32_t dimFirstRow = 0, dimLastRow = 0;  // DIMENSIONS as loaded (last exclusive)
  uint16_t dimFirstCol = 0, dimLastCol = 0;
};

struct Globals {
  CompoundFile container;             // the loaded file, whose other streams a save keeps
  int workbookEntry = -1;             // its root Workbook stream's directory entry
  std::string stream;                 // the loaded Workbook stream (empty for a new book)
  std::vector<GlobalRecord> records;  // globals without BOUNDSHEET, SST and its CONTINUEs
  size_t boundSheetAt = 0;            // position in records where the BOUNDSHEETs go
  size_t sstAt = 0;                   // position in records where the SST goes
  std::vector<SourceSheet> sources;
  std::vector<bool> deleted;
  SharedStrings sst;
  std::string extSst;                 // EXTSST body for the table as saved
  uint16_t cellXf = 15;               // format of the cells written here
  bool date1904 = false;              // DATEMODE: day numbers count from 1904-01-01
};

// The records of a new book's globals.
void startGlobals(Globals& g);
// Parses a loaded stream's globals and sheet layout; false with a reason.
bool readGlobals(Globals& g, std::string& error);

// Globals as saved: bytes before the SST, and after it (EXTSST and the rest).
struct SavedSheet {
  std::string name;
  const SourceSheet* source = nullptr;  // null for a new sheet
  uint32_t offset = 0;                  // stream offset of its BOF
};
void buildGlobals(Globals& g, const std::vector<SavedSheet>& sheets, std::string& beforeSst,
                  std::string& afterSst);

}  // namespace xls
