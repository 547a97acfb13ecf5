#include "job/output_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "options/conversion_options.h"
#include "platform/atomic_file.h"
#include "platform/owner_window.h"
#include "platform/paths.h"
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

bool outputFolderUsable(OwnerWindow* owner, const std::string& workbookPath) {
  WriteTarget target;
  std::string reason;
  // A path that is no regular file is the job's to refuse, with its own reason, unless what
  // stands for its folder is none (a plain file).
  const bool resolved = resolveWriteTarget(workbookPath, target, reason);
  const bool targetRefused = !resolved && !target.folderMissing;
  // The workbook is written beside its target and renamed over it: the folder must take files.
  std::string folder = folderOf(targetRefused ? workbookPath : target.path);
  if (folder.empty()) folder = ".";
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  struct stat st {};
  int why = 0;
  if (stat(folder.c_str(), &st) != 0)
    why = errno;
  else if (!S_ISDIR(st.st_mode))
    why = ENOTDIR;
  else if (access(folder.c_str(), W_OK | X_OK) != 0)
    why = errno;
  if (why == 0 || (targetRefused && why != ENOTDIR)) return true;
  showFailure(owner, "Cannot save XLS file.", "the folder " + folder + ": " + std::strerror(why));
  return false;
}

bool outputMayBeWritten(OwnerWindow* owner, const ConversionOptions* options) {
  const std::string& output = options->outputPath;
  WriteTarget target;
  std::string reason;
  if (!outputFolderUsable(owner, output)) return false;
  if (!resolveWriteTarget(output, target, reason)) {
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
