#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/interruption.h"
#include "platform/write_whole.h"

namespace {

// Symbolic links followed before giving up, as the system does.
constexpr int kMostLinks = 40;
// Short, so that a target of the longest name the file system allows still has a temporary
// name beside it; the dot keeps it out of sight in a folder listing.
constexpr const char* kTemporaryName = "/.quarlex-XXXXXX";

constexpr char kNameCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNamingAttempts = 100;

thread_local bool gStopWhenInterrupted = false;

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

// Links the written unnamed file into the folder under a fresh temporary name.
bool nameUnnamedFile(const std::string& unnamed, const std::string& folder, std::string& temp, std::string& error) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
    uint64_t seed = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(counter++) ^
                    static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string name = kTemporaryName;
    for (char& c : name)
      if (c == 'X') {
        c = kNameCharacters[seed % (sizeof kNameCharacters - 1)];
        seed = seed / (sizeof kNameCharacters - 1) + seed * 0x9E3779B97F4A7C15ull;
      }
    temp = folder + name;
    if (linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) break;
  }
  error = std::string("cannot name the new file beside it: ") + std::strerror(errno);
  temp.clear();
  return false;
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The link's text taken relative to the folder the link is in.
std::string followLink(const std::string& link, std::string& error) {
  std::string text(PATH_MAX, '\0');
  ssize_t n = readlink(link.c_str(), text.data(), text.size());
  if (n < 0 || static_cast<size_t>(n) >= text.size()) {
    error = std::strerror(n < 0 ? errno : ENAMETOOLONG);
    return {};
  }
  text.resize(static_cast<size_t>(n));
  if (text.empty() || text[0] == '/') return text;
  return folderOfFile(link) + "/" + text;
}

}  // namespace

bool resolveWriteTarget(const std::string& path, WriteTarget& target, std::string& error) {
  std::string current = path;
  for (int links = 0; links <= kMostLinks; ++links) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
      }
      struct stat folder {};
      int found = stat(folderOfFile(current).c_str(), &folder);
      if (found != 0 || !S_ISDIR(folder.st_mode)) {
        int why = found != 0 ? errno : ENOTDIR;
        error = current == path ? std::strerror(why)
                                : "it links to " + current + ", in a folder that does not exist";
        target = WriteTarget{current, false, 0, 0, 0, true};
        return false;
      }
      target = WriteTarget{current, false, 0, 0, 0, false};
      return true;
    }
    if (S_ISLNK(st.st_mode)) {
      current = followLink(current, error);
      if (current.empty()) return false;
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      error = current == path ? std::string("it is ") + kindOf(st.st_mode) + ", not a regular file"
                              : "it links to " + current + ", " + kindOf(st.st_mode) + ", not a regular file";
      return false;
    }
    target = WriteTarget{current, true, st.st_mode, st.st_dev, st.st_ino, false};
    return true;
  }
  error = std::strerror(ELOOP);
  return false;
}

bool temporaryFilesUnsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

bool replaceFileAtomically(const std::string& file,
                           const std::function<bool(const std::string& tempPath, std::string& error)>& write,
                           std::string& error) {
  WriteTarget target;
  if (!resolveWriteTarget(file, target, error)) return false;
  auto interrupted = [&] {
    if (!gStopWhenInterrupted || interruptionSignal() == 0) return false;
    error = "the run was interrupted; nothing was saved";
    return true;
  };
  if (interrupted()) return false;
  mode_t mode = 0666;
  if (target.exists) {
    mode = target.mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode &= ~mask;
  }
  // Beside the target, so the rename stays on one file system.
  const std::string folder = folderOfFile(target.path);
  std::string temp;
  bool ok = false;
  // First as a file without a name: a process killed while writing it leaves nothing behind. It
  // gets a (short, hidden) name only for the rename. File systems without such files get a
  // named temporary file from the start.
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0 && !temporaryFilesUnsupported(errno)) {
    error = std::string("cannot create a file beside it: ") + std::strerror(errno);
    return false;
  }
  std::string unnamed = fd >= 0 ? "/proc/self/fd/" + std::to_string(fd) : std::string();
  std::optional<TemporaryFileGuard> guard;
  if (fd >= 0 && access(unnamed.c_str(), F_OK) == 0) {
    ok = write(unnamed, error) && !interrupted();
    // The target's permissions only now: a read-only one would have kept the writer out.
    if (ok && (fchmod(fd, mode) != 0 || fsync(fd) != 0)) {
      error = std::strerror(errno);
      ok = false;
    }
    if (ok) ok = nameUnnamedFile(unnamed, folder, temp, error);
    if (ok) guard.emplace(temp);
    // A close that fails may have lost what the file system still held of the new content.
    if (close(fd) != 0 && ok) {
      error = std::strerror(errno);
      ok = false;
    }
  } else {
    if (fd >= 0) close(fd);
    temp = folder + kTemporaryName;
    fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
      error = std::string("cannot create a file beside it: ") + std::strerror(errno);
      return false;
    }
    guard.emplace(temp);
    fchmod(fd, mode);
    if (close(fd) != 0) {
      error = std::strerror(errno);
      unlink(temp.c_str());
      return false;
    }
    ok = write(temp, error) && syncFile(temp, error) && !interrupted();
  }
  if (ok && rename(temp.c_str(), target.path.c_str()) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    if (!temp.empty()) unlink(temp.c_str());
    if (error.empty()) error = "the file could not be written";
    return false;
  }
  syncFolder(target.path);
  return true;
}

bool replaceFileWithText(const std::string& target, const std::string& text, std::string& error) {
  return replaceFileAtomically(target, [&](const std::string& temp, std::string& why) {
    int fd = open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      why = std::strerror(errno);
      return false;
    }
    errno = 0;
    bool ok = writeWhole(fd, text.data(), text.size());
    if (!ok) why = errno ? std::strerror(errno) : "nothing was written";
    if (close(fd) != 0 && ok) {
      why = std::strerror(errno);
      ok = false;
    }
    return ok;
  }, error);
}

ReplacementStopsWhenInterrupted::ReplacementStopsWhenInterrupted() : outer_(gStopWhenInterrupted) {
  gStopWhenInterrupted = true;
}

ReplacementStopsWhenInterrupted::~ReplacementStopsWhenInterrupted() { gStopWhenInterrupted = outer_; }
