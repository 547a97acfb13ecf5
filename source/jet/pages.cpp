#include "source/jet/pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/read_whole.h"
#include "source/com_error.h"
#include "source/jet_header_mask.h"

PageReader::PageReader(const std::string& path, const JetHeader& header)
    : pageSize_(header.pageSize), pageKey_(header.pageKey) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    int err = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw ComError(daoerror::kFileNotFound, "DAO.DBEngine",
                   std::string("Could not open the database file (") + std::strerror(err) + "): " + path,
                   std::strerror(err));
  }
  fileSize_ = static_cast<uint64_t>(st.st_size);
  pageCount_ = fileSize_ / pageSize_;
}

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
