#include "tools/accesswriter/page_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "source/jet_header_mask.h"
#include "tools/accesswriter/access_writer.h"
#include "tools/accesswriter/encoding.h"

namespace accesswriter {

PageFile::PageFile(const std::filesystem::path& path) : name_(path.string()) {
  fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw Error("cannot create " + name_ + ": " + std::strerror(errno));
}

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint32_t PageFile::allocate() {
  if (next_ >= fmt::kMaxPages)
    throw Error(name_ + ": the database would exceed the 2 GiB limit of Access files");
  return next_++;
}

void PageFile::write(uint32_t page, const PageBytes& plain) {
  PageBytes bytes = plain;
  if (key_ != 0 && page != 0) fmt::togglePageEncoding(key_, page, bytes.data(), bytes.size());
  off_t at = off_t(page) * fmt::kPageSize;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error("cannot write page " + std::to_string(page) + " of " + name_ + ": " +
                            std::strerror(errno));
    done += size_t(n);
  }
}

void PageFile::finish() {
  if (::ftruncate(fd_, off_t(next_) * fmt::kPageSize) != 0 || ::close(fd_) != 0) {
    fd_ = -1;
    throw Error("cannot complete " + name_ + ": " + std::strerror(errno));
  }
  fd_ = -1;
}

void RowPage::open(uint32_t page, const uint8_t owner[4]) {
  bytes.fill(0);
  bytes[0] = fmt::kPageData;
  bytes[1] = 0x01;
  std::memcpy(&bytes[fmt::kDpOwner], owner, 4);
  number = page;
  rows = 0;
  top = fmt::kPageSize;
}

bool RowPage::fits(size_t rowSize) const {
  if (!isOpen() || rows >= fmt::kMaxRowsPerPage) return false;
  size_t used = fmt::kDpHeaderSize + 2 * (rows + 1);
  return used + rowSize <= top;
}

uint32_t RowPage::add(const uint8_t* data, size_t size) {
  top -= uint32_t(size);
  std::memcpy(&bytes[top], data, size);
  le::put16(&bytes[fmt::kDpRowOffsets + 2 * rows], uint16_t(top));
  return (number << 8) | rows++;
}

void RowPage::flush(PageFile& file) {
  le::put16(&bytes[fmt::kDpFreeSpace], uint16_t(top - (fmt::kDpHeaderSize + 2 * rows)));
  le::put16(&bytes[fmt::kDpRowCount], uint16_t(rows));
  file.write(number, bytes);
  number = 0;
}

}  // namespace accesswriter
