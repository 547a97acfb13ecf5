// Test helpers of the decryption: a page cipher for a file on disk, every page decrypted through
// it, and a database's user tables as our engine reads them.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "source/crypt/encrypted_access.h"

namespace crypttest {

// openOfficeCipher given the file's first page and size, as the reader gives them.
CipherResult openCipherOfFile(const std::string& path, const std::string& password);

// The file's bytes with every page decrypted through the cipher, the header page included
// (which the cipher leaves as stored). Empty when the cipher fails on a page.
std::string decryptPages(const std::string& encrypted, const OfficePageCipher& cipher);

// User tables in catalog order as the engine reads them:
// {"tables": [{"name", "rows": [[value, ...]]}]}, each value as JSON (null, number, text, ...).
nlohmann::json engineDump(const std::string& path, const std::string& password = "");

}  // namespace crypttest
