#include "job/workbook_name.h"

#include "platform/text.h"

std::string refusedWorkbookName(const std::string& outputPath, int bookType) {
  if (asciiEndsWithIgnoreCase(outputPath, ".xlsb"))
    return "a .xlsb workbook is Excel's binary format, which this program does not write "
           "(name the workbook .xlsx or .xls)";
  if (bookType == 0 && asciiEndsWithIgnoreCase(outputPath, ".xlsm"))
    return "a .xlsm workbook cannot hold the .xls format (use /TYPE=2007, or name the workbook .xls)";
  return {};
}
