// The catalog (MSysObjects): every table of the file, local and linked, in catalog order, and
// from MSysComplexColumns the kind and value table of each complex column.
#pragma once

#include <memory>

#include "source/database_file.h"

// Fills file->tables, file->complexColumns and file->queries. Throws ComError naming the file when the catalog
// cannot be read.
void readCatalog(const std::shared_ptr<DatabaseFile>& file);
