// The one way files are replaced (books and INI files alike), and the lock a job holds on its book.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readFileBytes;
using testsupport::ScratchDir;
using testsupport::writeFileBytes;

TEST(AtomicFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  ScratchDir dir;
  fs::path target = dir / "book.xlsx";
  writeFileBytes(target, "old content");
  std::string error;
  bool ok = replaceFileAtomically(target.string(), [](const std::string& temp, std::string& why) {
    writeFileBytes(temp, "half of the new");
    why = "No space left on device";
    return false;
  }, error);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "No space left on device");
  EXPECT_EQ(readFileBytes(target), "old content");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(AtomicFile, ALinkStaysALinkAndTheFileKeepsItsPermissions) {
  ScratchDir dir;
  fs::create_directory(dir / "real");
  fs::path real = dir / "real" / "settings.ini", link = dir / "settings.ini";
  writeFileBytes(real, "[Common]\n");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(real, link);
  std::string error;
  ASSERT_TRUE(replaceFileWithText(link.string(), "[Common]\nOpen=1\n", error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readFileBytes(real), "[Common]\nOpen=1\n");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(replaceFileWithText((dir / "missing" / "x.ini").string(), "x", error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(FileLock, TheSecondHolderWaitsAndThenLocksTheFileThatReplacedTheFirst) {
  ScratchDir dir;
  fs::path book = dir / "book.xls";
  // The child starts before the lock is taken: a forked copy of the holder's descriptor would
  // hold the lock too.
  int locked[2];
  ASSERT_EQ(pipe(locked), 0);
  pid_t child = fork();
  if (child == 0) {
    char go;
    if (read(locked[0], &go, 1) != 1) _exit(3);
    // Waits for the lock, then must see the book the first holder renamed into place.
    FileLock second;
    std::string why;
    if (!second.acquire(book.string(), why)) _exit(2);
    _exit(readFileBytes(book) == "saved" ? 0 : 1);
  }
  FileLock first;
  std::string error;
  ASSERT_TRUE(first.acquire(book.string(), error)) << error;
  EXPECT_TRUE(first.created());  // a missing file is made to be locked
  ASSERT_EQ(write(locked[1], "x", 1), 1);
  usleep(300 * 1000);
  std::string err;
  ASSERT_TRUE(replaceFileWithText(book.string(), "saved", err)) << err;
  first.release();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // A lock that made the file and saw nothing written removes it again.
  fs::path other = dir / "unused.xls";
  {
    FileLock lock;
    ASSERT_TRUE(lock.acquire(other.string(), error));
    EXPECT_TRUE(fs::exists(other));
  }
  EXPECT_FALSE(fs::exists(other));
}
