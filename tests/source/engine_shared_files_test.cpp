// The engine against the real Access files of the shared test data, with mdb-reader as referee.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include "platform/text.h"
#include "tests/source/engine_test_util.h"
#include "tests/support/test_support.h"

namespace {

using enginetest::ManifestEntry;

std::vector<std::string> userTables(Database& db) {
  std::vector<std::string> names;
  TableDefs defs = db.TableDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    std::string name = defs.Item(i).Name();
    if (name.rfind("MSys", 0) != 0) names.push_back(name);
  }
  return names;
}

std::optional<std::string> connectFor(const ManifestEntry& e) {
  if (e.password.empty()) return std::nullopt;
  return ";pwd=" + e.password;
}

TEST(EngineSharedFiles, TablesAndRecordCountsAsTheManifestSays) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  int checked = 0;
  for (const ManifestEntry& e : enginetest::readManifest(folder)) {
    if (e.encrypted) continue;
    SCOPED_TRACE(e.file);
    for (EngineFlavour flavour : {EngineFlavour::Dao36, EngineFlavour::Dao120}) {
      auto db = DBEngine(flavour).OpenDatabase((folder / e.file).string(), 1, true, connectFor(e));
      EXPECT_EQ(db->flavour(), flavour);
      std::vector<std::string> expectedNames;
      for (auto& [name, count] : e.tables) expectedNames.push_back(name);
      EXPECT_EQ(userTables(*db), expectedNames);
      for (auto& [name, count] : e.tables) {
        auto rs = db->OpenRecordset(name);
        EXPECT_EQ(rs->RecordCount(), count) << name;
        int seen = 0;
        for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) ++seen;
        EXPECT_EQ(seen, count) << name;
      }
      // The catalog's own tables are table definitions too.
      EXPECT_NO_THROW(db->TableDefs().Item("MSysObjects"));
      ++checked;
    }
  }
  EXPECT_GE(checked, 30);
}

// Each expected table's values by column name, so that engine fields can be matched to them.
struct ExpectedTable {
  const nlohmann::json* table = nullptr;
  std::vector<int> columnOf;  // expectation column of each engine field
};

ExpectedTable matchColumns(const nlohmann::json& expectation, const std::string& name, Fields fields) {
  ExpectedTable out;
  for (const auto& t : expectation["tables"])
    if (t["name"] == name) out.table = &t;
  if (!out.table) return out;
  for (int i = 0; i < fields.Count(); ++i) {
    int found = -1;
    for (size_t c = 0; c < (*out.table)["columns"].size(); ++c)
      if ((*out.table)["columns"][c]["name"] == fields.Item(i).Name()) found = static_cast<int>(c);
    out.columnOf.push_back(found);
  }
  return out;
}

TEST(EngineSharedFiles, EveryValueAsTheExpectationSays) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  int cells = 0;
  for (const ManifestEntry& e : enginetest::readManifest(folder)) {
    SCOPED_TRACE(e.file);
    auto path = folder / e.file;
    nlohmann::json expectation = enginetest::readExpectation(path);
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string(), 1, true, connectFor(e));
    EXPECT_EQ(userTables(*db).size(), expectation["tables"].size());
    for (const auto& table : expectation["tables"]) {
      std::string name = table["name"];
      Fields fields = db->TableDefs().Item(name).Fields();
      ASSERT_EQ(fields.Count(), static_cast<int>(table["columns"].size())) << name;
      ExpectedTable match = matchColumns(expectation, name, fields);
      for (int i = 0; i < fields.Count(); ++i) ASSERT_GE(match.columnOf[i], 0) << fields.Item(i).Name();
      auto rows = enginetest::readAll(*db, name);
      ASSERT_EQ(rows.size(), table["rows"].size()) << name;
      int wrong = 0;
      for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < rows[r].size(); ++i) {
          int c = match.columnOf[i];
          std::string why;
          if (!enginetest::sameAsExpectation(rows[r][i], table["rows"][r][c], table["columns"][c]["type"], &why) && ++wrong <= 5)
            ADD_FAILURE() << name << " record " << r << " field " << fields.Item(static_cast<int>(i)).Name() << ": " << why;
          ++cells;
        }
      EXPECT_EQ(wrong, 0) << name;
    }
  }
  EXPECT_GT(cells, 8000);
}

// mdb-reader referees every cell on which it agrees with the expectation; where it does not
// (records moved by edits, calculated columns, complex columns, extended dates) the expectation
// alone rules.
TEST(EngineSharedFiles, EveryValueAsMdbReaderReadsItWhereItAgreesWithTheExpectation) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  int cells = 0, refereed = 0;
  for (const ManifestEntry& e : enginetest::readManifest(folder)) {
    SCOPED_TRACE(e.file);
    auto path = folder / e.file;
    nlohmann::json expectation = enginetest::readExpectation(path);
    std::vector<std::string> argv{"node", (testsupport::projectRoot() / "tests" / "js" / "mdb_dump.mjs").string(), path.string()};
    if (!e.password.empty()) argv.insert(argv.end(), {"--password", e.password});
    auto result = testsupport::runCommand(argv);
    if (result.exitCode != 0) {
      // mdb-reader fails on some complex columns (complexDataTestV2010.accdb): nothing to referee.
      std::cout << "mdb-reader cannot read " << e.file << ": the expectation alone rules\n";
      continue;
    }
    nlohmann::json dump = nlohmann::json::parse(result.out);
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string(), 1, true, connectFor(e));
    for (const auto& table : dump["tables"]) {
      std::string name = table["name"];
      Fields fields = db->TableDefs().Item(name).Fields();
      ASSERT_EQ(fields.Count(), static_cast<int>(table["columns"].size())) << name;
      std::vector<int> order;  // dump column for each engine field, matched by name
      for (int i = 0; i < fields.Count(); ++i) {
        int found = -1;
        for (size_t c = 0; c < table["columns"].size(); ++c)
          if (table["columns"][c]["name"] == fields.Item(i).Name()) found = static_cast<int>(c);
        ASSERT_GE(found, 0) << fields.Item(i).Name();
        order.push_back(found);
      }
      ExpectedTable match = matchColumns(expectation, name, fields);
      if (!match.table || (*match.table)["rows"].size() != table["rows"].size()) continue;
      auto rows = enginetest::readAll(*db, name);
      ASSERT_EQ(rows.size(), table["rows"].size()) << name;
      for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < rows[r].size(); ++i) {
          ++cells;
          const auto& reader = table["rows"][r][order[i]];
          int c = match.columnOf[i];
          if (c < 0 || !enginetest::readerAgreesWithExpectation(reader, (*match.table)["rows"][r][c], (*match.table)["columns"][c]["type"]))
            continue;
          ++refereed;
          std::string why;
          EXPECT_TRUE(enginetest::sameAsReader(rows[r][i], reader, &why))
              << name << " row " << r << " field " << fields.Item(static_cast<int>(i)).Name() << ": " << why;
        }
    }
  }
  // The edited files' records come in another order from mdb-reader, so most of their cells are
  // not refereed; every other file's are.
  EXPECT_GT(cells, 8000);
  EXPECT_GT(refereed, 1000);
}

TEST(EngineSharedFiles, CalculatedAndExtendedColumnsHaveTheirTypes) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  for (const char* name : {"calculated-ace14.accdb", "calculated-ace16.accdb"}) {
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase((folder / name).string());
    Fields fields = db->TableDefs().Item("Staff").Fields();
    std::vector<std::pair<std::string, int>> got;
    for (int i = 4; i < fields.Count(); ++i) got.emplace_back(fields.Item(i).Name(), fields.Item(i).Type());
    std::vector<std::pair<std::string, int>> want = {{"Display", dbText},   {"NameLength", dbLong}, {"Monthly", dbCurrency},
                                                     {"Weekly", dbDouble},  {"WellPaid", dbBoolean}, {"Review", dbDate},
                                                     {"Summary", dbMemo}};
    EXPECT_EQ(got, want) << name;
  }
  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase((folder / "extended-dates-ace19.accdb").string());
  int type = db->TableDefs().Item("Events").Fields().Item("At").Type();
  EXPECT_TRUE(type < 1 || type > 23) << "a Date/Time Extended field must take the text path, not DAO type " << type;
  auto complex = DBEngine(EngineFlavour::Dao120).OpenDatabase((folder / "complexDataTestV2010.accdb").string());
  Fields fields = complex->TableDefs().Item("Table1").Fields();
  EXPECT_EQ(fields.Item("attach-data").Type(), dbAttachment);
  EXPECT_GE(fields.Item("multi-value-data").Type(), dbAttachment);
  EXPECT_LE(fields.Item("multi-value-data").Type(), dbComplexText);
}

TEST(EngineSharedFiles, FieldTypesInDesignOrder) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "jet4-2000-types.mdb").string());
  Fields fields = db->TableDefs().Item("Table1").Fields();
  std::vector<std::pair<std::string, int>> got;
  for (int i = 0; i < fields.Count(); ++i) got.emplace_back(fields.Item(i).Name(), fields.Item(i).Type());
  std::vector<std::pair<std::string, int>> want = {{"A", dbText}, {"B", dbText},   {"C", dbByte},
                                                   {"D", dbInteger}, {"E", dbLong}, {"F", dbDouble},
                                                   {"G", dbDate}, {"H", dbCurrency}, {"I", dbBoolean}};
  EXPECT_EQ(got, want);
  auto big = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "ace16-bigint.accdb").string());
  EXPECT_EQ(big->TableDefs().Item("Table").Fields().Item("Numeric").Type(), dbBigInt);
  auto num = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "jet4-numeric.mdb").string());
  EXPECT_EQ(num->TableDefs().Item("test").Fields().Item("col2").Type(), dbDecimal);
  EXPECT_EQ(num->TableDefs().Item("test").Fields().Item("col1").Type(), dbMemo);
  auto att = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "ace-attachments.accdb").string());
  EXPECT_EQ(att->TableDefs().Item("Table1").Fields().Item("Attachments").Type(), dbAttachment);
}

TEST(EngineSharedFiles, ExactKindsOfValues) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "jet3-types.mdb").string());
  auto rows = enginetest::readAll(*db, "Table1");
  ASSERT_EQ(rows.size(), 2u);
  const auto& r = rows[1];
  EXPECT_EQ(r[0].vt, VT_BSTR);
  EXPECT_EQ(r[0].text, "abcdefg");
  EXPECT_EQ(r[2].vt, VT_UI1);
  EXPECT_EQ(r[3].vt, VT_I2);
  EXPECT_EQ(r[3].integer, 222);
  EXPECT_EQ(r[4].vt, VT_I4);
  EXPECT_EQ(r[5].vt, VT_R8);
  EXPECT_EQ(r[5].real, 444.555);
  EXPECT_EQ(r[6].vt, VT_DATE);
  EXPECT_EQ(r[6].real, 27293.0);  // 1974-09-21
  EXPECT_EQ(r[7].vt, VT_CY);
  EXPECT_EQ(r[7].integer, 35000);
  EXPECT_EQ(r[8].vt, VT_BOOL);
  EXPECT_EQ(r[8].integer, -1);
  EXPECT_EQ(rows[0][8].integer, 0);

  auto big = DBEngine(EngineFlavour::Dao36).OpenDatabase((folder / "ace16-bigint.accdb").string());
  auto b = enginetest::readAll(*big, "Table");
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0][1].vt, VT_I8);
  EXPECT_EQ(b[0][1].integer, 42);
}

TEST(EngineSharedFiles, LongMemoSpanningPagesComesWhole) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto path = testsupport::sharedAccessData() / "ace-longtext.accdb";
  auto dump = testsupport::mdbReaderDump(path);
  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string());
  auto rows = enginetest::readAll(*db, "Table1");
  ASSERT_EQ(rows.size(), 1u);
  size_t longest = 0;
  for (const auto& v : rows[0])
    if (v.vt == VT_BSTR) longest = std::max(longest, v.text.size());
  EXPECT_GT(longest, 4096u);
}

TEST(EngineSharedFiles, PasswordsAreChecked) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  for (const char* name : {"jet4-2000-password.mdb", "jet4-2003-password.mdb"}) {
    SCOPED_TRACE(name);
    std::string path = (folder / name).string();
    DBEngine engine(EngineFlavour::Dao36);
    EXPECT_NO_THROW(engine.OpenDatabase(path, 1, true, std::string(";pwd=password")));
    for (std::optional<std::string> bad : {std::optional<std::string>(), std::optional<std::string>(";pwd=wrong"),
                                           std::optional<std::string>(";pwd=Password"), std::optional<std::string>(";pwd=")}) {
      try {
        engine.OpenDatabase(path, 1, true, bad);
        ADD_FAILURE() << "opened with " << bad.value_or("(no connect)");
      } catch (const ComError& e) {
        EXPECT_EQ(e.hresult(), daoerror::kNotValidPassword);
        EXPECT_NE(e.description().find(name), std::string::npos) << e.description();
      }
    }
  }
  // A password given for a file that has none does no harm.
  EXPECT_NO_THROW(DBEngine(EngineFlavour::Dao36)
                      .OpenDatabase((folder / "jet4-2003-no-password.mdb").string(), 1, true, std::string(";pwd=x")));
}

TEST(EngineSharedFiles, EncryptedAccdbOpensOnlyWithItsPassword) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData();
  for (const char* name : {"ace14-encrypted-password.accdb", "ace-agile-encrypted.accdb"}) {
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase((folder / name).string(), 1, true, std::string(";pwd=password"));
    EXPECT_EQ(userTables(*db), std::vector<std::string>{"Table1"});
    for (const char* connect : {"", ";pwd=Password", ";pwd="}) {
      try {
        DBEngine(EngineFlavour::Dao120).OpenDatabase((folder / name).string(), 1, true, std::string(connect));
        ADD_FAILURE() << name << " opened with '" << connect << "'";
      } catch (const ComError& e) {
        EXPECT_EQ(e.hresult(), daoerror::kNotValidPassword);
        EXPECT_NE(e.description().find("encrypted"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find(name), std::string::npos) << e.description();
      }
    }
  }
}

TEST(EngineSharedFiles, SourceFileIsNeverWritten) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir dir;
  auto copy = dir / "copy.mdb";
  std::filesystem::copy_file(testsupport::sharedAccessData() / "jet4-2000-types.mdb", copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  struct stat before {};
  ASSERT_EQ(stat(copy.c_str(), &before), 0);
  std::string bytes = testsupport::readFileBytes(copy);
  {
    auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(copy.string(), 1, true);
    TableDefs defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) enginetest::readAll(*db, defs.Item(i).Name());
    db->Close();
  }
  struct stat after {};
  ASSERT_EQ(stat(copy.c_str(), &after), 0);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_TRUE(testsupport::readFileBytes(copy) == bytes);
}

}  // namespace

// Saved queries' SQL is compared with spacing, brackets and parentheses left out (the reference
// reader places them its own way) and without the NUL that ends a pass-through text.
std::string comparableSql(const std::string& sql) {
  std::string out;
  for (char c : sql)
    if (!std::isspace(static_cast<unsigned char>(c)) && c != '[' && c != ']' && c != '(' && c != ')' && c != '\0') out += c;
  return out;
}

TEST(EngineSharedFiles, SavedQueriesAsTheCatalogDefinesThem) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto folder = testsupport::sharedAccessData().parent_path() / "queries";
  const std::map<std::string, QueryKind> kinds = {
      {"SELECT", QueryKind::Select},       {"UNION", QueryKind::Union},   {"CROSS_TAB", QueryKind::Crosstab},
      {"APPEND", QueryKind::Append},       {"UPDATE", QueryKind::Update}, {"DELETE", QueryKind::Delete},
      {"MAKE_TABLE", QueryKind::MakeTable}, {"DATA_DEFINITION", QueryKind::DataDefinition},
      {"PASSTHROUGH", QueryKind::PassThrough}};
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string listing = entry.path().string();
    if (!listing.ends_with(".queries.jsonl")) continue;
    std::string database = listing.substr(0, listing.size() - std::string(".queries.jsonl").size());
    SCOPED_TRACE(database);
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(database);
    QueryDefs defs = db->QueryDefs();
    std::ifstream in(listing);
    std::vector<nlohmann::json> expected;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) expected.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(defs.Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < defs.Count(); ++i) {
      QueryDef q = defs.Item(i);
      const nlohmann::json& e = expected[static_cast<size_t>(i)];
      EXPECT_EQ(q.Name(), e["query"]);
      EXPECT_EQ(defs.Item(asciiUpper(q.Name())).Name(), q.Name());
      EXPECT_EQ(q.Type(), static_cast<int16_t>(kinds.at(e["type"]))) << q.Name();
      EXPECT_EQ(comparableSql(q.SQL()), comparableSql(e["sql"])) << q.Name() << "\n" << q.SQL();
      std::vector<std::string> names;
      for (const QueryParameter& p : q.Parameters()) names.push_back(p.name);
      EXPECT_EQ(names, e.value("parameters", std::vector<std::string>())) << q.Name();
      ++checked;
    }
    EXPECT_THROW(defs.Item(defs.Count()), ComError);
  }
  EXPECT_GE(checked, 60);
}
