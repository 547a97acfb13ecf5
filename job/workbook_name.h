// Output names whose workbook kind this program cannot write: checked before a job converts
// anything, so the user learns it before waiting for the tables.
#pragma once

#include <string>

// Why no workbook of the book type (0 .xls, else .xlsx) can be written under the path's name, or
// empty when it can: a .xlsb is Excel's binary format, which is not written here, and a .xlsm is
// a macro-enabled .xlsx package, never an .xls one.
std::string refusedWorkbookName(const std::string& outputPath, int bookType);
