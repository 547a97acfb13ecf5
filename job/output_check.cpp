#include "job/output_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "options/conversion_options.h"
#include "platform/atomic_file.h"
#include "platform/owner_window.h"
#include "source/jet_format.h"
#include "source/jet_header.h"

namespace {

constexpr size_t kSignatureBytes = jetfmt::kHdrEngineName + jetfmt::kEngineNameLength;

// Opened without blocking and checked again once open: the path may have changed since it was
// looked at.
bool startsLikeAccessFile(const WriteTarget& target) {
  int fd = open(target.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[kSignatureBytes];
  struct stat st {};
  bool access = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                startsLikeAccessDatabase(head, sizeof head);
  close(fd);
  return access;
}

}  // namespace

bool outputMayBeWritten(OwnerWindow* owner, const ConversionOptions* options) {
  const std::string& output = options->outputPath;
  WriteTarget target;
  std::string reason;
  if (!resolveWriteTarget(output, target, reason)) {
    // A missing folder is the save's to report, as for any file that cannot be written.
    if (target.folderMissing) return true;
    showFailure(owner, "Cannot save XLS file.", output + ": " + reason);
    return false;
  }
  if (!target.exists) return true;
  struct stat source {};
  if (stat(options->sourcePath.c_str(), &source) == 0 && source.st_dev == target.device &&
      source.st_ino == target.inode) {
    showFailure(owner, "Cannot load XLS file.",
                output + ": it is the database being converted; a database is never overwritten");
    return false;
  }
  if (startsLikeAccessFile(target)) {
    showFailure(owner, "Cannot load XLS file.",
                output + ": it is an Access database, not a workbook; a database is never overwritten");
    return false;
  }
  return true;
}
