// Linked tables: a table the catalog names but whose records live in another Access file. The
// file is looked for at the path the link stores, then under the same file name in the folder of
// the database that links it, and opened with the link's own password or else with the linking
// database's.
#pragma once

#include <memory>
#include <string>

#include "source/database_file.h"

// The file and the table definition that hold a table's records: the table itself for a local
// one. Throws ComError for a link that cannot be followed, naming the linked file and where it
// was looked for (links to ODBC sources and to files of other kinds are never followed).
struct TableSource {
  std::shared_ptr<DatabaseFile> file;
  const CatalogTable* table = nullptr;
};
TableSource resolveTable(const std::shared_ptr<DatabaseFile>& file, const CatalogTable& table);

// The connection text without its password (PWD=...), to name a source in messages.
std::string connectWithoutPassword(const std::string& connect);
