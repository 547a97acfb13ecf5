// quarlex-mkdb as a user runs it: the demo shop and the synthetic benchmark table.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/tools/reader_check.h"

namespace {

TEST(WriterMkdb, SampleShopInBothFormats) {
  for (const char* name : {"shop.mdb", "shop.accdb"}) {
    testsupport::ScratchDir dir;
    auto file = dir / name;
    auto r = testsupport::runCommand({QUARLEX_MKDB, "--sample", file.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(writertest::libmdbTables(file),
              (std::vector<std::string>{"Customers", "Products", "Orders", "Order Lines", "MSysNotes"}));
    nlohmann::json dump = testsupport::mdbReaderDump(file);
    size_t records = 0;
    std::set<std::string> types;
    for (const auto& t : dump["tables"]) {
      records += t["rows"].size();
      EXPECT_EQ(t["rows"].size(), t["rowCount"]);
      for (const auto& c : t["columns"]) types.insert(c["type"]);
    }
    EXPECT_EQ(records, 1005u);
    std::set<std::string> expected{"boolean", "byte", "integer", "long", "currency", "float", "double",
                                   "datetime", "text", "memo", "ole", "repid", "numeric"};
    if (std::string(name).ends_with(".accdb")) expected.insert("bigint");
    EXPECT_EQ(types, expected);
    for (const auto& t : dump["tables"]) {
      auto lib = writertest::libmdbRows(file, t["name"]);
      EXPECT_EQ(lib.size(), t["rows"].size()) << t["name"];
    }
    auto ini = file;
    ini.replace_extension("ini");
    std::string text = testsupport::readFileBytes(ini);
    EXPECT_EQ(text.rfind("[FIELDS]", 0), 0u) << text;
    EXPECT_NE(text.find("CustomerId=Customer number"), std::string::npos) << text;
  }
}

TEST(WriterMkdb, SyntheticTableHasTheAskedShape) {
  testsupport::ScratchDir dir;
  auto file = dir / "synthetic.accdb";
  auto r = testsupport::runCommand({QUARLEX_MKDB, "--synthetic", file.string(), "--rows", "3000", "--columns", "30"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto count = testsupport::runCommand({"mdb-count", file.string(), "Synthetic"});
  EXPECT_EQ(count.out, "3000\n");
  nlohmann::json dump = testsupport::mdbReaderDump(file);
  ASSERT_EQ(dump["tables"].size(), 1u);
  const auto& t = dump["tables"][0];
  EXPECT_EQ(t["columns"].size(), 30u);
  ASSERT_EQ(t["rows"].size(), 3000u);
  for (size_t i = 0; i < 3000; ++i) ASSERT_EQ(t["rows"][i][0], i + 1);
}

TEST(WriterMkdb, BadArgumentsAreRefused) {
  EXPECT_EQ(testsupport::runCommand({QUARLEX_MKDB}).exitCode, 2);
  EXPECT_EQ(testsupport::runCommand({QUARLEX_MKDB, "--synthetic", "/tmp/x.mdb", "--rows", "-1", "--columns", "3"}).exitCode, 2);
  EXPECT_EQ(testsupport::runCommand({QUARLEX_MKDB, "--synthetic", "/tmp/x.mdb", "--rows", "1", "--columns", "0"}).exitCode, 2);
  auto r = testsupport::runCommand({QUARLEX_MKDB, "--sample", "/nonexistent-folder/x.mdb"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("/nonexistent-folder/x.mdb"), std::string::npos) << r.err;
}

}  // namespace
