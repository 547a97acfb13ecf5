// Small pieces of the engine: connect texts, text decoding, header checks, stderr silencing.
#include <fcntl.h>
#include <cstring>
#include <unistd.h>

#include <gtest/gtest.h>

#include "source/database_file.h"
#include "source/engine.h"
#include "source/jet_header.h"
#include "platform/rc4.h"
#include "platform/text_codec.h"
#include "tests/support/test_support.h"

namespace {

TEST(EngineConnect, PasswordIsEverythingAfterPwd) {
  EXPECT_EQ(passwordFromConnect(";pwd=secret"), "secret");
  EXPECT_EQ(passwordFromConnect(";PWD=a;b=c"), "a;b=c");  // no quoting or escaping
  EXPECT_EQ(passwordFromConnect(";pwd="), "");
  EXPECT_EQ(passwordFromConnect("MS Access;pwd= x "), " x ");
  EXPECT_EQ(passwordFromConnect(""), "");
  EXPECT_EQ(passwordFromConnect(";uid=admin"), "");
}

TEST(EngineText, Jet4PlainAndCompressedForms) {
  const uint8_t plain[] = {'A', 0, 0xFC, 0, 0x3D, 0xD8, 0x00, 0xDE};  // "Aü😀"
  EXPECT_EQ(decodeAccessText(plain, sizeof plain), "Aü😀");
  // FF FE, then one-byte characters, a 0 switches to two-byte units and back.
  const uint8_t compressed[] = {0xFF, 0xFE, 'a', 'b', 0, 0x16, 0x4E, 0, 'c'};
  EXPECT_EQ(decodeAccessText(compressed, sizeof compressed), "ab世c");
  const uint8_t lone[] = {0x00, 0xD8, 'x', 0};
  EXPECT_EQ(decodeAccessText(lone, sizeof lone), "\xEF\xBF\xBDx");
  const uint8_t odd[] = {'a', 0, 'b'};
  EXPECT_EQ(decodeAccessText(odd, sizeof odd), "a");
  EXPECT_EQ(decodeAccessText(nullptr, 0), "");
}

TEST(EngineText, Jet3CodePages) {
  const uint8_t text[] = {'E', 0x80, 0xE9, 0x9F};
  EXPECT_EQ(decodeCodePageText(text, sizeof text, 1252), "E€éŸ");
  EXPECT_EQ(decodeCodePageText(text, sizeof text, 0), "E€éŸ");
  const uint8_t cyrillic[] = {0xC0, 0xE1};
  EXPECT_EQ(decodeCodePageText(cyrillic, sizeof cyrillic, 1251), "Аб");
}

TEST(EngineHeader, ForeignFilesAreRefusedByName) {
  testsupport::ScratchDir dir;
  std::string page(8192, '\0');
  std::memcpy(&page[4], "Standard Jet DB", 15);
  page[0x14] = 9;  // a version nobody made
  testsupport::writeFileBytes(dir / "future.mdb", page);
  try {
    openDatabaseFile((dir / "future.mdb").string(), "");
    ADD_FAILURE();
  } catch (const ComError& e) {
    EXPECT_EQ(e.hresult(), daoerror::kUnrecognizedFormat);
    EXPECT_NE(e.description().find("future.mdb"), std::string::npos);
  }
  page[0x14] = 1;
  testsupport::writeFileBytes(dir / "short.mdb", page);  // two pages: no catalog
  EXPECT_THROW(openDatabaseFile((dir / "short.mdb").string(), ""), ComError);
  try {
    openDatabaseFile((dir / "absent.mdb").string(), "");
    ADD_FAILURE();
  } catch (const ComError& e) {
    EXPECT_EQ(e.hresult(), daoerror::kFileNotFound);
  }
}

// Jet3 keeps its password unmasked (apart from the header's fixed RC4 mask) in single bytes.
TEST(EngineHeader, Jet3PasswordIsChecked) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir dir;
  std::string bytes = testsupport::readFileBytes(testsupport::sharedAccessData() / "jet3-types.mdb");
  const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  auto* header = reinterpret_cast<uint8_t*>(&bytes[0x18]);
  rc4Apply(key, 4, header, 126);
  std::memcpy(&bytes[0x42], "S\xe9same\0\0\0", 9);  // "Sésame" in code page 1252
  rc4Apply(key, 4, header, 126);
  auto path = dir / "locked97.mdb";
  testsupport::writeFileBytes(path, bytes);
  DBEngine engine(EngineFlavour::Dao36);
  EXPECT_NO_THROW(engine.OpenDatabase(path.string(), 1, true, std::string(";pwd=Sésame")));
  EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, std::string(";pwd=Sesame")), ComError);
  EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, std::string(";pwd=sésame")), ComError);
  EXPECT_THROW(engine.OpenDatabase(path.string()), ComError);
}

TEST(EngineObjects, ClosedAndMissingThingsRaise) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto path = (testsupport::sharedAccessData() / "jet3-types.mdb").string();
  auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(path);
  EXPECT_THROW(db->OpenRecordset("NoSuchTable"), ComError);
  EXPECT_THROW(db->TableDefs().Item(99), ComError);
  EXPECT_THROW(db->TableDefs().Item("nope"), ComError);
  EXPECT_EQ(db->TableDefs().Item("table1").Name(), "Table1");  // names match without regard to case
  auto empty = db->OpenRecordset("Table2");
  EXPECT_TRUE(empty->Eof());
  EXPECT_THROW(empty->MoveNext(), ComError);
  auto rs = db->OpenRecordset("Table1");
  Fields fields = rs->Fields();
  EXPECT_THROW(db->TableDefs().Item("Table1").Fields().Item(0).Value(), ComError);
  EXPECT_EQ(fields.Item("a").Value().text, "a");
  db->Close();
  // Objects already taken keep reading; the database itself refuses new work.
  rs->MoveNext();
  EXPECT_EQ(fields.Item(0).Value().text, "abcdefg");
  EXPECT_THROW(db->TableDefs(), ComError);
  rs->Close();
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(fields.Item(0).Value(), ComError);
  EXPECT_THROW(rs->MoveFirst(), ComError);
}

}  // namespace
