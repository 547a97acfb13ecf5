// The compound file (structured storage) that holds a BIFF8 workbook stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace xls {

// Reads the "Workbook" stream of the compound file; false with a reason for anything else.
// Streams over limit bytes are refused.
bool readWorkbookStream(const std::string& path, size_t limit, std::string& stream, std::string& error);

// Writes a compound file whose only stream, "Workbook", is the size bytes of data read from
// the start of source (a temporary file).
bool writeCompoundFile(const std::string& path, std::FILE* source, uint64_t size, std::string& error);

}  // namespace xls
