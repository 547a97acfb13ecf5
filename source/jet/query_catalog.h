// The saved queries' definitions: each query object of MSysObjects with its rows in MSysQueries,
// rebuilt into the SQL Access shows in SQL view.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/database_file.h"

// A query as MSysObjects lists it.
struct QueryObject {
  uint32_t id = 0;  // masked as MSysQueries.ObjectId is compared
  std::string name;
  uint32_t flags = 0;
};

// Fills file->queries from `objects` (in catalog order), hidden ones (names beginning with "~")
// left out. A definition that cannot be read or rebuilt keeps its name and kind with an empty
// SQL text, so that running it fails naming it while the tables still convert.
void readQueryCatalog(const std::shared_ptr<DatabaseFile>& file, const std::vector<QueryObject>& objects);
