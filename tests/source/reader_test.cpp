// The database reader: listing, filters, shortcut, passwords, result codes.
#include <gtest/gtest.h>

#include "source/database_reader.h"
#include "tests/support/test_support.h"

namespace {

struct FakeSourceWindow : SourceWindow {
  std::string password;
  std::vector<std::string> list;
  int resets = 0;
  int selectAlls = 0;
  std::string passwordText() override { return password; }
  void resetTableList() override {
    ++resets;
    list.clear();
  }
  void addTable(const std::string& name) override { list.push_back(name); }
  void selectAllTables() override { ++selectAlls; }
};

std::string shared(const char* name) { return (testsupport::sharedAccessData() / name).string(); }

TEST(ReaderSharedFiles, WithoutWindowListsUserTablesInCatalogOrder) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, shared("ace-deleted-column.accdb")), 0);
  ASSERT_TRUE(options.database);
  EXPECT_EQ(options.sourcePath, shared("ace-deleted-column.accdb"));
  EXPECT_EQ(options.selectedTables, std::optional<std::string>(";~TMPCLP517911;;~TMPCLP236321;;Table1;"));
}

TEST(ReaderSharedFiles, WithWindowFillsAndSelectsTheList) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  FakeSourceWindow window;
  EXPECT_EQ(OpenSourceDatabase(&window, &options, shared("jet4-2003-types.mdb")), 0);
  EXPECT_EQ(window.list, (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(window.selectAlls, 1);
  EXPECT_FALSE(options.selectedTables.has_value());  // the window's list holds the choice
}

TEST(ReaderSharedFiles, FilterAppliesToTheFirstListingOnly) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  options.tableFilter = ";TABLE3;TABLE1;";
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, shared("jet3-types.mdb")), 0);
  EXPECT_EQ(options.selectedTables, std::optional<std::string>(";Table1;;Table3;"));
  EXPECT_FALSE(options.tableFilter.has_value());
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, shared("ace14-types.accdb")), 0);
  EXPECT_EQ(options.selectedTables, std::optional<std::string>(";Table1;;Table2;;Table3;;Table4;"));
}

TEST(ReaderSharedFiles, DatabaseWithoutUserTablesKeepsTheFilter) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  options.tableFilter = ";TABLE1;";
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, shared("jet4-empty.mdb")), 0);
  EXPECT_TRUE(options.database);
  // The system tables are table definitions, so the listing ran (and listed nothing).
  EXPECT_EQ(options.selectedTables, std::optional<std::string>(""));
  EXPECT_FALSE(options.tableFilter.has_value());
}

TEST(ReaderSharedFiles, SamePathAndPasswordIsANoOp) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  FakeSourceWindow window;
  ASSERT_EQ(OpenSourceDatabase(&window, &options, shared("jet3-types.mdb")), 0);
  auto first = options.database;
  window.list.pop_back();  // stands for the user's deselection
  EXPECT_EQ(OpenSourceDatabase(&window, &options, shared("jet3-types.mdb")), 0);
  EXPECT_EQ(options.database, first);
  EXPECT_EQ(window.list.size(), 3u);
  EXPECT_EQ(window.resets, 1);
}

TEST(ReaderSharedFiles, WrongPasswordThenTheRightOne) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  FakeSourceWindow window;
  window.password = "wrong";
  EXPECT_EQ(OpenSourceDatabase(&window, &options, shared("jet4-2000-password.mdb")), 1);
  EXPECT_FALSE(options.database);
  EXPECT_TRUE(window.list.empty());
  window.password = "password";
  EXPECT_EQ(OpenSourceDatabase(&window, &options, shared("jet4-2000-password.mdb")), 0);
  EXPECT_TRUE(options.database);
  EXPECT_EQ(options.password, "password");
  EXPECT_EQ(window.list, std::vector<std::string>{"Table1"});

  // Without a window the record's password (from the command line) is used.
  ConversionOptions unattended;
  unattended.password = "password";
  EXPECT_EQ(OpenSourceDatabase(nullptr, &unattended, shared("jet4-2003-password.mdb")), 0);
  EXPECT_EQ(unattended.selectedTables, std::optional<std::string>(";Table1;"));
  ConversionOptions none;
  EXPECT_EQ(OpenSourceDatabase(nullptr, &none, shared("jet4-2003-password.mdb")), 1);
}

TEST(ReaderSharedFiles, FailedOpenClosesThePreviousDatabase) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  ASSERT_EQ(OpenSourceDatabase(nullptr, &options, shared("jet3-types.mdb")), 0);
  auto previous = options.database;
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, "/nonexistent/file.mdb"), 1);
  EXPECT_FALSE(options.database);
  EXPECT_THROW(previous->TableDefs(), ComError);  // closed
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, shared("ace14-encrypted-password.accdb")), 1);
}

TEST(ReaderSharedFiles, EmptyPathReopensTheRecordsSourcePath) {
  REQUIRE_SHARED_ACCESS_DATA();
  ConversionOptions options;
  options.sourcePath = shared("ace16-bigint.accdb");
  EXPECT_EQ(OpenSourceDatabase(nullptr, &options, ""), 0);
  EXPECT_EQ(options.selectedTables, std::optional<std::string>(";Table;"));
}

TEST(ReaderFlavour, IsAProcessWideSetting) {
  EXPECT_EQ(readerEngineFlavour(), EngineFlavour::Dao36);
  setReaderEngineFlavour(EngineFlavour::Dao120);
  EXPECT_EQ(readerEngineFlavour(), EngineFlavour::Dao120);
  if (!testsupport::sharedAccessData().empty()) {
    ConversionOptions options;
    ASSERT_EQ(OpenSourceDatabase(nullptr, &options, shared("jet3-types.mdb")), 0);
    EXPECT_EQ(options.database->flavour(), EngineFlavour::Dao120);
  }
  setReaderEngineFlavour(EngineFlavour::Dao36);
}

}  // namespace
