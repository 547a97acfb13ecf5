// The output file as numbered pages, and a data page that fills with rows from its end.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "source/jet_format.h"

namespace accesswriter {

// The writer lays files out by the same format facts the engine reads them by.
namespace fmt = ::jetfmt;

using PageBytes = std::array<uint8_t, fmt::kPageSize>;

class PageFile {
 public:
  explicit PageFile(const std::filesystem::path& path);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Hands out the next page number; pages may be written in any order.
  uint32_t allocate();
  void write(uint32_t page, const PageBytes& bytes);
  // From now on every page but page 0 is RC4-encoded with key ^ page, as in an encoded Jet4 file.
  void encodePages(uint32_t key) { key_ = key; }
  uint32_t pageCount() const { return next_; }
  // Writes any never-written pages as zeros and closes the file.
  void finish();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int fd_ = -1;
  uint32_t next_ = 0;
  uint32_t key_ = 0;
};

// A data page (table rows, long values or usage maps): rows are packed from the page end
// down, each new row just below the previous one, so a row ends where the one before begins.
struct RowPage {
  PageBytes bytes{};
  uint32_t number = 0;  // 0 while no page is open
  uint32_t rows = 0;
  uint32_t top = fmt::kPageSize;

  void open(uint32_t page, const uint8_t owner[4]);
  bool isOpen() const { return number != 0; }
  bool fits(size_t rowSize) const;
  // Appends a row and returns its page/row pointer (page << 8 | row).
  uint32_t add(const uint8_t* data, size_t size);
  // Completes the header and writes the page; the page is closed afterwards.
  void flush(PageFile& file);
};

}  // namespace accesswriter
