// Damaged, truncated and foreign files: every open or read fails with a ComError naming the file,
// never a crash, a hang or a message of the reader's own on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "tests/source/engine_test_util.h"
#include "tests/support/test_support.h"

namespace {

// Opens and reads everything; returns "ok" or the ComError's description. Any other exception
// escapes and fails the test.
std::string openAndReadEverything(const std::string& path) {
  try {
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path, 1, true, std::string(";pwd=password"));
    TableDefs defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      Fields fields = defs.Item(i).Fields();
      for (int f = 0; f < fields.Count(); ++f) (void)fields.Item(f).Type();
      enginetest::readAll(*db, defs.Item(i).Name());
    }
    return "ok";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    EXPECT_LT(e.hresult(), 0);
    return e.description();
  }
}

// Captures what this process writes to file descriptor 2 while it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::filesystem::path& file) : file_(file) {
    std::fflush(stderr);
    saved_ = dup(2);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    ::close(fd);
  }
  std::string finish() {
    std::fflush(stderr);
    dup2(saved_, 2);
    ::close(saved_);
    return testsupport::readFileBytes(file_);
  }

 private:
  std::filesystem::path file_;
  int saved_;
};

TEST(EngineDamage, MissingEmptyForeignAndTruncatedFilesFailCleanly) {
  testsupport::ScratchDir dir;
  EXPECT_NE(openAndReadEverything((dir / "missing.mdb").string()), "ok");
  testsupport::writeFileBytes(dir / "empty.mdb", "");
  EXPECT_NE(openAndReadEverything((dir / "empty.mdb").string()), "ok");
  testsupport::writeFileBytes(dir / "text.mdb", std::string(20000, 'x'));
  EXPECT_NE(openAndReadEverything((dir / "text.mdb").string()), "ok");
  EXPECT_NE(openAndReadEverything(dir.path().string()), "ok");  // a folder
  if (testsupport::sharedAccessData().empty()) return;
  for (const char* name : {"jet3-types.mdb", "jet4-2003-types.mdb", "ace14-types.accdb"}) {
    std::string bytes = testsupport::readFileBytes(testsupport::sharedAccessData() / name);
    for (size_t cut : {size_t{1}, size_t{100}, size_t{2047}, size_t{4096}, size_t{8191}, size_t{12288}, bytes.size() / 2}) {
      auto path = dir / ("cut-" + std::to_string(cut) + "-" + name);
      testsupport::writeFileBytes(path, bytes.substr(0, cut));
      std::string result = openAndReadEverything(path.string());
      if (cut < 12288) {
        EXPECT_NE(result, "ok") << name << " cut at " << cut;
      }
    }
  }
}

TEST(EngineDamage, MutatedCopiesOfRealFilesNeverCrash) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir dir;
  const char* names[] = {"jet3-types.mdb", "jet4-2003-password.mdb", "jet4-numeric.mdb",
                         "ace-longtext.accdb", "ace-attachments.accdb", "ace14-types.accdb"};
  StderrCapture capture(dir / "stderr.txt");
  // A host program writing to standard error from another thread meanwhile loses nothing.
  std::atomic<bool> reading{true};
  std::string hostLines;
  std::thread host([&] {
    for (int n = 0; reading; ++n) {
      std::string line = "host line " + std::to_string(n) + "\n";
      if (::write(2, line.data(), line.size()) == static_cast<ssize_t>(line.size())) hostLines += line;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int failures = 0, runs = 0;
  for (const char* name : names) {
    const std::string original = testsupport::readFileBytes(testsupport::sharedAccessData() / name);
    const size_t pageSize = original[0x14] == 0 ? 2048 : 4096;
    std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(name)));
    for (int iteration = 0; iteration < 60; ++iteration) {
      std::string bytes = original;
      int flips = 1 + static_cast<int>(random() % 24);
      for (int f = 0; f < flips; ++f) {
        // Most damage goes where the catalog, table definitions and first data pages live.
        size_t span = (random() % 4 == 0) ? bytes.size() : std::min(bytes.size(), pageSize * 16);
        size_t at = random() % span;
        if (random() % 3 == 0) {
          bytes[at] = static_cast<char>(random());
        } else {
          bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
        }
      }
      auto path = dir / ("mutated-" + std::to_string(iteration) + "-" + name);
      testsupport::writeFileBytes(path, bytes);
      if (openAndReadEverything(path.string()) != "ok") ++failures;
      ++runs;
      std::filesystem::remove(path);
    }
  }
  reading = false;
  host.join();
  std::string printed = capture.finish();
  EXPECT_GT(hostLines.size(), 0u);
  EXPECT_EQ(printed, hostLines) << "the reader wrote to standard error, or the host's lines went elsewhere";
  EXPECT_EQ(runs, 360);
  EXPECT_GT(failures, 0);  // some of the damage must have been noticed
}

}  // namespace
