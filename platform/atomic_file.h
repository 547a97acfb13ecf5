// Replacing a file whole or not at all: the new content goes to a temporary file beside the
// target, is flushed to disk, and is renamed over the target. Until that rename the old file stays
// as it was, so a failed write (a full disk, a file size limit, a crash) never leaves half a file.
// Only regular files are ever replaced: a device, a named pipe, a socket or a folder is refused.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// The file a write to a path replaces, its symbolic links followed.
struct WriteTarget {
  std::string path;     // the path itself, or the file its links end at
  bool exists = false;  // false: nothing there yet, in an existing folder
  mode_t mode = 0;      // permissions and type of the existing file
  dev_t device = 0;
  ino_t inode = 0;
  bool folderMissing = false;  // the path (or its links' end) is in a folder that does not exist
};

// Follows the path's links without opening anything (so a named pipe cannot block). False with a
// reason when the end is no regular file, or is missing in a folder that does not exist.
bool resolveWriteTarget(const std::string& path, WriteTarget& target, std::string& error);

// Writes the new content through `write`, which gets a path that opens the temporary file
// (already created and empty; where the file system allows, a file without a name that a killed
// process leaves nowhere) and returns false with a reason when it fails. The new file takes the
// target's permissions. A target that is a symbolic link keeps the link: the file it points to is
// replaced. On failure `error` holds the reason (the system's text where the system said why) and
// the target is untouched.
bool replaceFileAtomically(const std::string& target,
                           const std::function<bool(const std::string& tempPath, std::string& error)>& write,
                           std::string& error);

// True for the answers of an open with O_TMPFILE that mean the file system (or the kernel) has
// no files without a name; any other error is the folder's own and fails as it is.
bool temporaryFilesUnsupported(int error);

// The same for a text held in memory.
bool replaceFileWithText(const std::string& target, const std::string& text, std::string& error);

// While one lives on a thread, a replacement made on that thread is given up before its rename
// once the run has been interrupted (platform/interruption.h): the old file stays as it was.
class ReplacementStopsWhenInterrupted {
 public:
  ReplacementStopsWhenInterrupted();
  ~ReplacementStopsWhenInterrupted();
  ReplacementStopsWhenInterrupted(const ReplacementStopsWhenInterrupted&) = delete;
  ReplacementStopsWhenInterrupted& operator=(const ReplacementStopsWhenInterrupted&) = delete;

 private:
  bool outer_;
};
