#include "source/jet/pages.h"

#include <unistd.h>

#include <cstring>

#include "platform/read_whole.h"
#include "source/jet_header_mask.h"

PageReader::PageReader(int fd, const JetHeader& header)
    : fd_(fd), pageSize_(header.pageSize), pageCount_(header.pageCount), fileSize_(header.fileSize),
      pageKey_(header.pageKey) {}

PageReader::~PageReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool PageReader::read(uint32_t page, uint8_t* into) const {
  const uint64_t at = static_cast<uint64_t>(page) * pageSize_;
  if (at > fileSize_) return false;
  const ssize_t n = preadWhole(fd_, into, pageSize_, static_cast<off_t>(at));
  if (n < 0) return false;
  const size_t got = static_cast<size_t>(n);
  std::memset(into + got, 0, pageSize_ - got);
  if (page == 0) return true;  // the header page is masked, never encoded
  if (decrypt_) return got == pageSize_ && decrypt_(page, into);
  if (pageKey_ != 0) jetfmt::togglePageEncoding(pageKey_, page, into, pageSize_);
  return true;
}
