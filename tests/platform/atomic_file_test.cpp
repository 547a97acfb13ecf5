// The one way files are replaced (books and INI files alike), and the lock a job holds on its book.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/interruption.h"
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

TEST(AtomicFile, OnlyRegularFilesAreReplacedAndLongNamesFit) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", dir / "null.ini");
  fs::create_symlink(dir / "pipe", dir / "pipe.ini");
  fs::create_symlink(dir / "sub", dir / "folder.ini");
  fs::create_directory(dir / "sub");
  std::string error;
  for (auto [name, reason] : std::vector<std::pair<std::string, std::string>>{
           {"null.ini", "it links to /dev/null, a character device, not a regular file"},
           {"pipe", "it is a named pipe (FIFO), not a regular file"},
           {"pipe.ini", "it links to " + (dir / "pipe").string() + ", a named pipe (FIFO), not a regular file"},
           {"folder.ini", "a folder, not a regular file"}}) {
    EXPECT_FALSE(replaceFileWithText((dir / name).string(), "x", error)) << name;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  // A link to nothing yet is written through, in a folder that exists; the link stays.
  fs::create_symlink("sub/made.ini", dir / "ahead.ini");
  ASSERT_TRUE(replaceFileWithText((dir / "ahead.ini").string(), "made", error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir / "ahead.ini"));
  EXPECT_EQ(readFileBytes(dir / "sub" / "made.ini"), "made");
  fs::create_symlink("nowhere/x.ini", dir / "lost.ini");
  EXPECT_FALSE(replaceFileWithText((dir / "lost.ini").string(), "x", error));
  EXPECT_NE(error.find("in a folder that does not exist"), std::string::npos) << error;
  // The longest name the folder takes: the temporary name beside it stays short.
  fs::path longest = dir / (std::string(251, 'n') + ".ini");
  ASSERT_TRUE(replaceFileWithText(longest.string(), "long", error)) << error;
  ASSERT_TRUE(replaceFileWithText(longest.string(), "longer", error)) << error;
  EXPECT_EQ(readFileBytes(longest), "longer");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 8);
}

TEST(FileLock, TheSecondHolderWaitsAndNothingIsMadeBesideTheFile) {
  ScratchDir dir;
  fs::create_directory(dir / "run");
  setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
  fs::create_directory(dir / "out");
  fs::path book = dir / "out" / "book.xls";
  // The child starts before the lock is taken: a forked copy of the holder's descriptor would
  // hold the lock too.
  int locked[2];
  ASSERT_EQ(pipe(locked), 0);
  pid_t child = fork();
  if (child == 0) {
    char go;
    if (read(locked[0], &go, 1) != 1) _exit(3);
    // Waits for the lock, taken through a link to the book, then must see the saved book.
    fs::create_symlink(book, dir / "link.xls");
    FileLock second;
    std::string why;
    if (!second.acquire((dir / "link.xls").string(), why)) _exit(2);
    bool saved = readFileBytes(book) == "saved";
    second.release();
    _exit(saved ? 0 : 1);
  }
  FileLock first;
  std::string error;
  ASSERT_TRUE(first.acquire(book.string(), error)) << error;
  EXPECT_TRUE(fs::is_empty(dir / "out"));  // the lock is no file beside the book
  EXPECT_TRUE(fs::exists(FileLock::lockFileFor(book.string())));
  EXPECT_EQ(fs::path(FileLock::lockFileFor(book.string())).parent_path(), dir / "run");
  ASSERT_EQ(write(locked[1], "x", 1), 1);
  usleep(300 * 1000);
  std::string err;
  ASSERT_TRUE(replaceFileWithText(book.string(), "saved", err)) << err;
  first.release();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Released locks leave nothing behind.
  EXPECT_TRUE(fs::is_empty(dir / "run"));

  // A run ended at once (a second Ctrl-C) removes the lock it holds; a released lock's path is
  // forgotten, and may by then name another process's lock file.
  FileLock held;
  ASSERT_TRUE(held.acquire(book.string(), error)) << error;
  removeTemporaryFilesNow();
  EXPECT_TRUE(fs::is_empty(dir / "run"));
  held.release();
  writeFileBytes(FileLock::lockFileFor(book.string()), "");
  removeTemporaryFilesNow();
  EXPECT_TRUE(fs::exists(FileLock::lockFileFor(book.string())));
  unsetenv("XDG_RUNTIME_DIR");
}
