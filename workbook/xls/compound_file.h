// The compound file (structured storage, [MS-CFB]) around a BIFF8 workbook. A loaded file is kept
// whole, so that a save can rewrite the root "Workbook" stream and carry every other stream and
// storage (VBA projects, embedded objects, summary information) over byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/compound_file_format.h"

namespace xls {

struct CompoundEntry {
  std::u16string name;
  uint8_t type = cfb::kEmpty;
  uint32_t left = cfb::kNoStream, right = cfb::kNoStream, child = cfb::kNoStream;
  uint32_t start = 0;
  uint64_t size = 0;
  bool reachable = false;  // found from the root through the directory's trees
};

struct CompoundFile {
  std::string data;  // the whole file
  uint32_t sectorSize = 512;
  std::vector<uint32_t> fat, miniFat;
  std::string miniStream;
  std::string directory;  // raw directory entries, 128 bytes each
  std::vector<CompoundEntry> entries;
};

// True when the bytes start with the compound file signature.
bool hasCompoundSignature(const char* bytes, size_t size);

// Reads and checks the file's structure; files over limit bytes are refused. False with a reason.
bool openCompoundFile(const std::string& path, uint64_t limit, CompoundFile& cf, std::string& error);
// The entry of the stream of that name (any letter case) directly in the root storage, or -1.
int findRootStream(const CompoundFile& cf, const char* name);
bool readStream(const CompoundFile& cf, size_t entry, std::string& out, std::string& error);

// Writes the bytes of the new stream straight into the file: exactly the size it was given,
// false (with error set, or else from errno) when it cannot.
using StreamWriter = std::function<bool(std::FILE* out, std::string& error)>;

// Writes a compound file. With an original, every stream and storage of it is kept, with the
// stream at entry `replaced` written by writeStream instead; without one, "Workbook" is the only
// stream.
bool writeCompoundFile(const std::string& path, const CompoundFile* original, int replaced, uint64_t size,
                       const StreamWriter& writeStream, std::string& error);

}  // namespace xls
