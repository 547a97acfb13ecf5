// Keeps a workbook name's extension in step with the chosen workbook type.
#pragma once

#include <string>

// bookType 1 turns a name ending in "xls" (any case) into "...xlsx"; bookType 0 drops the last
// letter of a name ending in "xlsx". Any other name is returned unchanged: no extension is added.
std::string applyBookTypeRule(const std::string& name, int bookType);

// The type a name's extension asks for: 1 for ".xlsx", 0 for ".xls" (any case), -1 for any other.
int bookTypeOfName(const std::string& name);
