// The pages of one open Access file, read one at a time with pread and decoded as they are read:
// the Jet page encoding of a file whose header holds a database key, or the Office encryption of
// a password-protected .accdb. Nothing of the file is copied; a page lives in the caller's buffer.
// Reads are const and keep no position, so cursors on several threads share one reader.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "source/jet_header.h"

// Decrypts one page (number >= 1, a whole page of the file's page size) in place; false when the
// cipher fails.
using PageDecryptor = std::function<bool(uint32_t page, uint8_t* bytes)>;

class PageReader {
 public:
  // Reads the open file `fd`, whose page 0 `header` was read from, and closes it when done. The
  // page size and the Jet page key come from the header.
  PageReader(int fd, const JetHeader& header);
  ~PageReader();
  PageReader(const PageReader&) = delete;
  PageReader& operator=(const PageReader&) = delete;

  // An Office-encrypted file's pages are decrypted by `decrypt` from now on.
  void setDecryptor(PageDecryptor decrypt) { decrypt_ = std::move(decrypt); }

  uint32_t pageSize() const { return pageSize_; }
  uint64_t pageCount() const { return pageCount_; }
  uint64_t fileSize() const { return fileSize_; }

  // Reads page `page` into `into` (pageSize() bytes): what the file holds, decoded, zeros past
  // its end. False when the page starts past the end of the file, the read fails or the page
  // cannot be decrypted.
  bool read(uint32_t page, uint8_t* into) const;

 private:
  int fd_ = -1;
  uint32_t pageSize_ = 0;
  uint64_t pageCount_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t pageKey_ = 0;
  PageDecryptor decrypt_;
};
