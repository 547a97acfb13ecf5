// The database definition page (page 0) of a Jet or ACE file, read and checked before anything
// else of the file is read: format, page size, size sanity, password and Office encryption.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class JetVersion : uint8_t { Jet3 = 0, Jet4 = 1, Ace12 = 2, Ace14 = 3, Ace15 = 4, Ace16 = 5, Ace17 = 6 };

struct JetHeader {
  JetVersion version = JetVersion::Jet4;
  uint32_t pageSize = 4096;
  uint64_t fileSize = 0;
  uint64_t pageCount = 0;       // whole pages in the file
  uint32_t pageKey = 0;         // RC4 page encoding key of Jet3/Jet4, 0 for none
  uint16_t codePage = 0;        // Jet3 text code page
  bool officeEncrypted = false; // an ACE file encrypted with a password
  std::string password;         // the stored database password (UTF-8), empty for none
};

// Opens `path` read-only and returns its descriptor, which the caller owns; throws ComError
// naming the file when it is missing, cannot be opened or is no regular file.
int openAccessFile(const std::string& path);

// Reads and checks page 0 of the open file `fd` (named `path` in errors); throws ComError naming
// the file when it is unreadable, too short or not a Jet/ACE database. A Jet3 file's texts are
// read in `textCodePage` when it is not 0, whatever code page the header names.
JetHeader readJetHeader(int fd, const std::string& path, uint16_t textCodePage = 0);

// Fails the open of a Jet3/Jet4 file whose stored password differs from `given` (byte for byte
// after decoding), and of an Office-encrypted ACE file.
void checkDatabasePassword(const JetHeader& header, const std::string& given, const std::string& path);

// True when the bytes begin like a Jet or ACE database, plain or encrypted (the first bytes of
// page 0 are enough: at least kHdrEngineName plus the engine's name).
bool startsLikeAccessDatabase(const uint8_t* bytes, size_t size);
