// What a book keeps of the .xlsx package it was loaded from (nothing for a new book).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "workbook/xlsx/parts.h"
#include "workbook/xlsx/worksheet.h"
#include "workbook/xlsx/zip_archive.h"

namespace xlsx {

struct SourceSheet {
  std::string name;
  std::string relId;
  std::string part;        // package part name without the leading '/'
  bool worksheet = false;  // false for chart and dialog sheets
  const ZipEntry* entry = nullptr;
  SheetScan scan;
};

struct Package {
  std::FILE* file = nullptr;  // the loaded file, held open so it may be replaced meanwhile
  ZipReader zip;
  std::string workbookPart, workbookRelsPart;
  std::string contentTypes, workbookXml, workbookRels;
  std::vector<Relationship> relationships;  // of the workbook part
  std::vector<SourceSheet> sources;         // in the loaded file's order
  std::vector<bool> deleted;                // per source sheet
  ~Package() {
    if (file) std::fclose(file);
  }
};

}  // namespace xlsx
