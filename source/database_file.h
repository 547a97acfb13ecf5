// One open Access file: its checked header, the reader of its pages and the table catalog.
// Shared by the Database and every TableDef and Recordset taken from it, so the file stays open
// while any of them lives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "source/jet/pages.h"
#include "source/jet_header.h"
#include "source/saved_query.h"

// Where a table's records are: here, in another Access file, in a file of another kind, or in
// an ODBC source.
enum class TableKind { Local, AccessLink, OtherLink, OdbcLink };

struct CatalogTable {
  std::string name;
  uint32_t definitionPage = 0;  // 0 for a linked table
  uint32_t flags = 0;
  TableKind kind = TableKind::Local;
  // A linked table's catalog row: the linked file's path as stored, the table's name there and
  // the connection text (empty or ";PWD=..." for an Access file).
  std::string linkedDatabase, foreignName, connect;
};

struct ComplexColumn {
  int16_t daoType = 0;
  std::string column;
  std::string valueTable;     // the hidden table of the column's values
  uint32_t valueTablePage = 0;  // its definition page, 0 when the catalog does not name it
};

struct DatabaseFile {
  std::string path;
  std::string password;  // the one it was opened with, which its linked databases may share
  uint16_t textCodePage = 0;  // of Jet3 texts, given by the user in place of the header's; 0 none
  // The databases its linked tables were found in, by path and password; opened once.
  std::map<std::string, std::shared_ptr<DatabaseFile>> linkedFiles;
  JetHeader header;
  std::unique_ptr<PageReader> pages;
  std::vector<CatalogTable> tables;  // every table, system and linked ones included, in catalog order
  std::vector<SavedQuery> queries;   // every saved query but the hidden ones, in catalog order
  // Each attachment, multi-valued or version-history column: (definition page, column name) ->
  // its kind and the hidden table that holds its values.
  std::map<std::pair<uint32_t, std::string>, ComplexColumn> complexColumns;

  DatabaseFile() = default;
  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;
  ~DatabaseFile();
};

// Checks the header and the password, opens the file read-only and reads the catalog. Throws
// ComError naming the file on every failure. `textCodePage`, when not 0, is the code page of a
// Jet3 file's texts whose header names the wrong one; it is refused when it is no number from 1
// to 65535 or this system cannot decode it.
std::shared_ptr<DatabaseFile> openDatabaseFile(const std::string& path, const std::string& password,
                                               int32_t textCodePage = 0);
