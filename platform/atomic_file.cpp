#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string folderOfFile(const std::string& file) {
  auto slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const std::string& file) {
  int fd = open(folderOfFile(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool syncFile(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (!ok) error = std::strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

}  // namespace

bool replaceFileAtomically(const std::string& file,
                           const std::function<bool(const std::string& tempPath, std::string& error)>& write,
                           std::string& error) {
  std::string target = file;
  struct stat st {};
  bool exists = lstat(file.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved)) target = resolved;  // keep the link; replace what it points to
    exists = stat(target.c_str(), &st) == 0;
  }
  if (exists && S_ISDIR(st.st_mode)) {
    error = std::strerror(EISDIR);
    return false;
  }
  // Beside the target, so the rename stays on one file system.
  std::string temp = target + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = std::string("cannot create a file beside it: ") + std::strerror(errno);
    return false;
  }
  mode_t mode = 0666;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode &= ~mask;
  }
  fchmod(fd, mode);
  close(fd);
  bool ok = write(temp, error) && syncFile(temp, error);
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    if (error.empty()) error = "the file could not be written";
    return false;
  }
  syncFolder(target);
  return true;
}

bool replaceFileWithText(const std::string& target, const std::string& text, std::string& error) {
  return replaceFileAtomically(target, [&](const std::string& temp, std::string& why) {
    int fd = open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      why = std::strerror(errno);
      return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        why = n < 0 ? std::strerror(errno) : "nothing was written";
        ok = false;
      } else {
        done += static_cast<size_t>(n);
      }
    }
    if (close(fd) != 0 && ok) {
      why = std::strerror(errno);
      ok = false;
    }
    return ok;
  }, error);
}
