// Every file call of a write failed in turn: each operation runs under io_fault_shim.c with its
// Nth counted call failing, for N = 1, 2, ... until a run needs no failure, once with EIO and once
// with ENOSPC. A failed run must end with exit 1 and a line naming the file and the system's
// reason, and leave every file of its folder (the workbook, the status and settings files, the
// lock and temporary folders) byte for byte as it was. The last run must succeed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/job/fixtures.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // relative path (folders end in /) to bytes

Files filesUnder(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::string name = fs::relative(entry.path(), dir).string();
    if (entry.is_directory()) files[name + "/"] = "";
    else files[name] = testsupport::readFileBytes(entry.path());
  }
  return files;
}

struct Operation {
  std::string name;
  std::function<void(const fs::path& dir)> prepare;  // what is there before the run
  std::function<std::vector<std::string>(const fs::path& dir)> command;
  std::string namedFile;  // the file a failure's message names (relative to the folder)
  std::string made;       // the file a successful run makes or changes
  // The status file is written at every stage: a failed status write may come after the book
  // was saved, and earlier stages' values stay. Then the book must be whole and the status file
  // hold one whole value.
  bool statusFile = false;
};

class WriteFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    using jobtest::FieldType;
    fs::create_directory(base);
    auto rows = std::make_shared<int>(0);
    jobtest::writeDb(base / "shop.accdb",
                     {jobtest::countingTable("Orders", 3),
                      {"Notes", {{"Id", FieldType::Long}, {"Body", FieldType::Memo}}, [rows](accesswriter::Row& row) {
                         if (*rows >= 1) return false;
                         row = {accesswriter::Value(int64_t{++*rows}), accesswriter::Value(std::string(33000, 'n'))};
                         return true;
                       }}},
                     accesswriter::Format::Ace12);
  }

  std::vector<std::string> environment(const fs::path& dir, long failAt, int error) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LC_ALL=C",
            "XDG_CONFIG_HOME=" + (dir / "config").string(), "XDG_RUNTIME_DIR=" + (dir / "run").string(),
            "TMPDIR=" + (dir / "tmp").string(), "LD_PRELOAD=" FAULT_SHIM,
            "ASAN_OPTIONS=" + std::string(asan ? asan : "detect_leaks=1") + ":verify_asan_link_order=0",
            "QUARLEX_FAULT_AT=" + std::to_string(failAt), "QUARLEX_FAULT_ERRNO=" + std::to_string(error),
            "QUARLEX_FAULT_LOG=" + log.string()};
  }

  // A fresh folder for one run: the database, the run's own runtime and temporary folders, and
  // what the operation finds there.
  void lay(const Operation& op) {
    fs::remove_all(work.path() / "w");
    fs::create_directories(work.path() / "w" / "run");
    fs::create_directories(work.path() / "w" / "tmp");
    fs::copy_file(base / "shop.accdb", work.path() / "w" / "shop.accdb");
    if (op.prepare) op.prepare(work.path() / "w");
  }

  // Runs the operation with each N failing in turn; returns the number of counted calls of the
  // run that needed no failure.
  long failEachCall(const Operation& op, int error) {
    const fs::path dir = work.path() / "w";
    const std::string reason = std::strerror(error);
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (long n = 1;; ++n) {
      const int partsBefore = result->total_part_count();
      lay(op);
      const Files before = filesUnder(dir);
      fs::remove(log);
      auto r = testsupport::runCommand(op.command(dir), environment(dir, n, error));
      const std::string shim = testsupport::readFileBytes(log);
      const bool failed = shim.find("failed=-") == std::string::npos;
      const std::string where = op.name + ", " + reason + ", call " + std::to_string(n) + " (" + shim + "): ";
      // The lock only keeps our own jobs apart: a job whose lock cannot be made or removed
      // converts all the same, and must then succeed whole; so must a job whose scratch file
      // failed to close once its content had been used.
      const bool scratchOnly = shim.find("path=" + (dir / "run").string()) != std::string::npos ||
                               (shim.find("failed=close path=" + (dir / "tmp").string()) != std::string::npos);
      if (!failed || (scratchOnly && r.exitCode == 0)) {
        EXPECT_EQ(r.exitCode, 0) << where << r.err;
        EXPECT_TRUE(fs::exists(dir / op.made)) << where;
        if (!failed) return n - 1;
        continue;
      }
      EXPECT_EQ(r.exitCode, 1) << where << r.err;
      EXPECT_NE(r.err.find((dir / op.namedFile).string()), std::string::npos) << where << r.err;
      EXPECT_NE(r.err.find(reason), std::string::npos) << where << r.err;
      EXPECT_EQ(r.err.find("ERROR: "), std::string::npos) << where << r.err;  // no sanitizer report
      const Files after = filesUnder(dir);
      for (const auto& [name, bytes] : after) {
        if (op.statusFile && name == op.made) {
          EXPECT_EQ(jobtest::loadedSheetNames(dir / name, true), std::vector<std::string>{"Orders"}) << where;
          continue;
        }
        if (op.statusFile && name == "status.log") {
          EXPECT_TRUE(bytes.rfind("[QUARLEX]\nResult=", 0) == 0 && bytes.find('\n', 18) == bytes.size() - 1)
              << where << bytes;
          continue;
        }
        auto was = before.find(name);
        EXPECT_TRUE(was != before.end()) << where << name << " was left";
        if (was != before.end()) EXPECT_TRUE(was->second == bytes) << where << name << " changed";
      }
      for (const auto& [name, bytes] : before) EXPECT_TRUE(after.count(name)) << where << name << " is gone";
      if (result->total_part_count() != partsBefore) return -n;
    }
  }

  void run(const Operation& op) {
    for (int error : {EIO, ENOSPC}) {
      long calls = failEachCall(op, error);
      ASSERT_GT(calls, 0) << op.name << " failed at call " << -calls << " with " << std::strerror(error);
      std::printf("%s: N = 1..%ld failed in turn with %s\n", op.name.c_str(), calls, std::strerror(error));
      ::testing::Test::RecordProperty(op.name + (error == EIO ? " EIO" : " ENOSPC"), static_cast<int>(calls));
    }
  }

  static std::vector<std::string> convert(const fs::path& dir, const std::string& out, std::vector<std::string> more) {
    std::vector<std::string> args{QUARLEX_PROGRAM, (dir / "shop.accdb").string(), (dir / out).string(), "/SILENT"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // An existing book made by a run without failures.
  static std::function<void(const fs::path&)> existing(const std::string& out, const std::string& type) {
    return [out, type](const fs::path& dir) {
      auto r = testsupport::runCommand(convert(dir, out, {type, "/OVERWRITE=1", "/TABLES=Orders"}));
      ASSERT_EQ(r.exitCode, 0) << r.err;
    };
  }

  testsupport::ScratchDir work;
  fs::path base = work / "shop-base";
  fs::path log = work / "shim.log";
};

TEST_F(WriteFaults, NewWorkbooks) {
  run({"new .xlsx", nullptr, [](const fs::path& d) { return convert(d, "out.xlsx", {"/TYPE=2007", "/TABLES=Orders"}); },
       "out.xlsx", "out.xlsx"});
  run({"new .xls", nullptr, [](const fs::path& d) { return convert(d, "out.xls", {"/TYPE=ANY", "/TABLES=Orders"}); },
       "out.xls", "out.xls"});
}

TEST_F(WriteFaults, ExtendedWorkbooks) {
  for (const char* overwrite : {"/OVERWRITE=0", "/OVERWRITE=1"}) {
    run({std::string("extended .xlsx ") + overwrite, existing("out.xlsx", "/TYPE=2007"),
         [overwrite](const fs::path& d) { return convert(d, "out.xlsx", {"/TYPE=2007", overwrite, "/TABLES=Orders"}); },
         "out.xlsx", "out.xlsx"});
    run({std::string("extended .xls ") + overwrite, existing("out.xls", "/TYPE=ANY"),
         [overwrite](const fs::path& d) { return convert(d, "out.xls", {"/TYPE=ANY", overwrite, "/TABLES=Orders"}); },
         "out.xls", "out.xls"});
  }
}

TEST_F(WriteFaults, ValueFilesStatusAndSettings) {
  run({"/FILES=1", nullptr, [](const fs::path& d) { return convert(d, "out.xlsx", {"/TYPE=2007", "/FILES=1", "/TABLES=Notes"}); },
       "out", "out_files"});  // the book or a value file
  run({"status file",
       [](const fs::path& d) { testsupport::writeFileBytes(d / "status.log", "[QUARLEX]\nResult=Successful\n"); },
       [](const fs::path& d) {
         return convert(d, "out.xlsx", {"/TYPE=2007", "/TABLES=Orders", "/STATUS=" + (d / "status.log").string()});
       },
       "", "out.xlsx", true});  // the message names the status file or the book
  run({"save new settings",
       [](const fs::path& d) { testsupport::writeFileBytes(d / "quarlex2007.ini", "[Common]\nLog=0\nOverWrite=0\nOpen=1\n"); },
       [](const fs::path& d) { return std::vector<std::string>{SAVE_SETTINGS, (d / "quarlex2007.ini").string()}; },
       "quarlex2007.ini", "quarlex2007.ini"});
}

}  // namespace
