#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "options/command_line.h"
#include "options/conversion_options.h"
#include "options/recent_paths.h"
#include "options/settings.h"
#include "platform/private_profile.h"
#include "platform/registry_file.h"
#include "tests/support/test_support.h"

using testsupport::ScratchDir;

TEST(SettingsFile, PathIsTheExecutableWithIniExtension) {
  std::string path = programSettingsPath();
  EXPECT_EQ(path.substr(path.size() - 17), "/test_options.ini");
}

TEST(SettingsFile, MissingFileGivesDefaults) {
  ScratchDir dir;
  ConversionOptions o;
  o.openOutput = 7;
  o.overwriteFile = 7;
  o.logEnabled = 7;
  readProgramSettings(&o, (dir / "none.ini").string());
  EXPECT_EQ(o.logEnabled, 0);
  EXPECT_EQ(o.overwriteFile, 0);
  EXPECT_EQ(o.openOutput, 1);
}

TEST(SettingsFile, CommandLineOverridesSettings) {
  ScratchDir dir;
  std::string ini = (dir / "quarlex2007.ini").string();
  testsupport::writeFileBytes(ini, "[common]\noverwrite=1\nOpen = 0\nLog=5x\n");
  ConversionOptions o;
  readProgramSettings(&o, ini);
  EXPECT_EQ(o.overwriteFile, 1);
  EXPECT_EQ(o.openOutput, 0);
  EXPECT_EQ(o.logEnabled, 5);
  const char* argv[] = {"quarlex2007", "/OVERWRITE=0"};
  parseCommandLine(&o, 2, argv);
  EXPECT_EQ(o.overwriteFile, 0);

  testsupport::writeFileBytes(ini, "[Common]\nOverWrite=2\n");
  ConversionOptions two;
  readProgramSettings(&two, ini);
  EXPECT_EQ(two.overwriteFile, 2);
}

TEST(SettingsFile, TheUsersFileWinsKeyByKey) {
  ScratchDir dir;
  std::string program = (dir / "quarlex2007.ini").string();
  std::string user = (dir / "user" / "quarlex2007.ini").string();
  testsupport::writeFileBytes(program, "[Common]\nOverWrite=1\nOpen=0\nLog=1\n");
  ConversionOptions o;
  readProgramSettings(&o, program, user);  // no user file yet
  EXPECT_EQ(o.overwriteFile, 1);
  EXPECT_EQ(o.openOutput, 0);
  o.openOutput = 1;
  o.logEnabled = 0;
  std::string error;
  ASSERT_TRUE(writeProgramSettings(&o, user, &error)) << error;  // makes the folder
  testsupport::writeFileBytes(user, "[Common]\nOpen=1\nLog=0\n");
  ConversionOptions both;
  readProgramSettings(&both, program, user);
  EXPECT_EQ(both.overwriteFile, 1);
  EXPECT_EQ(both.openOutput, 1);
  EXPECT_EQ(both.logEnabled, 0);

  // A file that cannot be written says why.
  testsupport::writeFileBytes(dir / "plain", "x");
  EXPECT_FALSE(writeProgramSettings(&o, (dir / "plain" / "q.ini").string(), &error));
  EXPECT_FALSE(error.empty());
}

TEST(SettingsFile, WriteKeepsOtherLinesAndOrder) {
  ScratchDir dir;
  std::string ini = (dir / "q.ini").string();
  testsupport::writeFileBytes(ini, "; kept\n[Other]\nA=1\n\n[COMMON]\nopen=1\nExtra=yes\n");
  ConversionOptions o;
  o.overwriteFile = 1;
  o.openOutput = 0;
  o.logEnabled = 0;
  o.typedCells = o.valueFiles = 1;
  writeProgramSettings(&o, ini);
  EXPECT_EQ(testsupport::readFileBytes(ini),
            "; kept\n[Other]\nA=1\n\n[COMMON]\nopen=0\nExtra=yes\nLog=0\nOverWrite=1\nCells=1\nLayout=0\nFiles=1\n");
  // The output options come back as they were saved.
  ConversionOptions back;
  readProgramSettings(&back, ini);
  EXPECT_EQ(back.typedCells, 1);
  EXPECT_EQ(back.tableLayout, 0);
  EXPECT_EQ(back.valueFiles, 1);

  ScratchDir fresh;
  std::string created = (fresh / "new.ini").string();
  writeProgramSettings(&o, created);
  EXPECT_EQ(testsupport::readFileBytes(created), "[Common]\nLog=0\nOverWrite=1\nOpen=0\nCells=1\nLayout=0\nFiles=1\n");
}

TEST(FieldCaptions, TitlesFromTheFileBesideTheDatabase) {
  ScratchDir dir;
  testsupport::writeFileBytes(dir / "shop.ini",
                              "[FIELDS]\nPrice=Unit price\nqty=Quantity\nEmpty=\nLong=" + std::string(300, 't') + "\n");
  ConversionOptions o;
  o.sourcePath = (dir / "shop.mdb").string();
  EXPECT_EQ(fieldCaptionPath(&o), (dir / "shop.ini").string());
  EXPECT_EQ(readFieldCaption("Price", &o), "Unit price");
  EXPECT_EQ(readFieldCaption("PRICE", &o), "Unit price");
  EXPECT_EQ(readFieldCaption("Qty", &o), "Quantity");
  EXPECT_EQ(readFieldCaption("Empty", &o), "Empty");
  EXPECT_EQ(readFieldCaption("Other", &o), "Other");
  EXPECT_EQ(readFieldCaption("Long", &o), std::string(259, 't'));

  o.sourcePath = (dir / "absent.accdb").string();
  EXPECT_EQ(readFieldCaption("Price", &o), "Price");
}

TEST(FieldCaptions, DotInAFolderNameIsNotTheExtension) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "v1.2");
  ConversionOptions o;
  o.sourcePath = (dir / "v1.2" / "shop").string();
  EXPECT_EQ(fieldCaptionPath(&o), (dir / "v1.2" / "shopini").string());
  o.sourcePath = (dir / "v1.2" / "shop.accdb").string();
  EXPECT_EQ(fieldCaptionPath(&o), (dir / "v1.2" / "shop.ini").string());
}

class RecentPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    saved_ = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
  }
  std::vector<std::string> list(const std::string& name) {
    std::vector<std::string> values;
    for (int i = 0; i < 10; ++i) values.push_back(readLastPath(name + std::to_string(i)).text);
    return values;
  }
  ScratchDir dir_;
  std::optional<std::string> saved_;
};

TEST_F(RecentPaths, RegistryFileLivesUnderXdgConfigHome) {
  EXPECT_EQ(registryFilePath(), (dir_ / "Fallowmere" / "Wizards.ini").string());
  EXPECT_EQ(userSettingsPath(), (dir_ / "Fallowmere" / "test_options.ini").string());
  EXPECT_FALSE(readLastPath("LastMDBFile").found);
  writeLastPath("LastMDBFile", "/data/shop.mdb");
  LastPath last = readLastPath("lastmdbfile");
  EXPECT_TRUE(last.found);
  EXPECT_EQ(last.text, "/data/shop.mdb");
}

TEST_F(RecentPaths, UpdateMovesThePathToTheHeadIgnoringCase) {
  writeLastPath("MDBfiles0", "A");
  writeLastPath("MDBfiles1", "B");
  writeLastPath("MDBfiles2", "C");
  updateRecentList("b", "MDBfiles");
  std::vector<std::string> expected{"b", "A", "C", "", "", "", "", "", "", ""};
  EXPECT_EQ(list("MDBfiles"), expected);
  EXPECT_EQ(loadRecentList("MDBfiles"), (std::vector<std::string>{"b", "A", "C"}));
}

TEST_F(RecentPaths, FullListLosesItsOldestEntry) {
  for (int i = 0; i < 10; ++i) writeLastPath("MDBfiles" + std::to_string(i), "P" + std::to_string(i));
  updateRecentList("N", "MDBfiles");
  std::vector<std::string> expected{"N", "P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"};
  EXPECT_EQ(list("MDBfiles"), expected);
}

TEST_F(RecentPaths, ValueNamesMatchWithoutRegardToCase) {
  writeLastPath("XLSFiles0", "/out/old.xlsx");
  updateRecentList("/out/new.xlsx", "XLSfiles");
  EXPECT_EQ(loadRecentList("XLSFiles"), (std::vector<std::string>{"/out/new.xlsx", "/out/old.xlsx"}));
  // One value per name, however it was spelt.
  std::string text = testsupport::readFileBytes(registryFilePath());
  EXPECT_EQ(text.find("XLSfiles0"), std::string::npos);
  EXPECT_NE(text.find("XLSFiles0=/out/new.xlsx"), std::string::npos);
}

TEST_F(RecentPaths, TheSamePathTenTimesStillLeavesTenPlaces) {
  for (int i = 0; i < 10; ++i) writeLastPath("MDBfiles" + std::to_string(i), "/x.mdb");
  updateRecentList("/X.MDB", "MDBfiles");
  std::vector<std::string> expected{"/X.MDB", "", "", "", "", "", "", "", "", ""};
  EXPECT_EQ(list("MDBfiles"), expected);
}

TEST_F(RecentPaths, OverlongValuesReadAsMissing) {
  writeLastPath("LastXLSFile", std::string(255, 'x'));
  EXPECT_FALSE(readLastPath("LastXLSFile").found);
  writeLastPath("LastXLSFile", std::string(254, 'x'));
  EXPECT_TRUE(readLastPath("LastXLSFile").found);
}

TEST_F(RecentPaths, UnparsableFileReadsAsEmpty) {
  std::filesystem::create_directories(dir_ / "Fallowmere");
  testsupport::writeFileBytes(registryFilePath(), std::string("\0\xff[[[=\n=\n[\n", 11));
  EXPECT_TRUE(loadRecentList("MDBfiles").empty());
  EXPECT_FALSE(readLastPath("LastMDBFile").found);
}
