#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "options/command_line.h"
#include "options/conversion_options.h"
#include "tests/options/parse_args.h"
#include "tests/support/test_support.h"
#include "platform/paths.h"

TEST(CommandLineParse, PathsByExtensionAndSwitchesWithoutRegardToCase) {
  ConversionOptions o;
  parse(&o, {"db.accdb", "out.xlsx", "/TYPE=2007", "/overwrite=yes"});
  EXPECT_EQ(o.sourcePath, "db.accdb");
  EXPECT_EQ(o.outputPath, "out.xlsx");
  EXPECT_EQ(o.bookType, 1);
  EXPECT_EQ(o.overwriteFile, 1);
}

TEST(CommandLineParse, ExtensionTestComesFirst) {
  ConversionOptions o;
  parse(&o, {"-STATUS=/var/log/run.xls", "/data/Shop.MDB", "x.ACCDR"});
  EXPECT_EQ(o.outputPath, "-STATUS=/var/log/run.xls");
  EXPECT_TRUE(o.statusFile.empty());
  EXPECT_EQ(o.sourcePath, "x.ACCDR");  // a later path replaces the earlier one
}

TEST(CommandLineParse, EveryWorkbookExtensionIsAnOutputPath) {
  for (const char* name : {"a.xls", "a.XLSX", "a.xlsb", "a.xlsm"}) {
    ConversionOptions o;
    parse(&o, {name});
    EXPECT_EQ(o.outputPath, name);
  }
}

TEST(CommandLineParse, FoldersAndShortArguments) {
  ConversionOptions o;
  parse(&o, {"outs/", "out/", ".mdb", "abcd", "", "/", "-"});
  EXPECT_EQ(o.outputFolder, "out/");  // a final "/" makes a folder of any length
  EXPECT_TRUE(o.sourcePath.empty());  // ".mdb" has only four characters

  ConversionOptions longer;
  parse(&longer, {"C:\\out\\", "archive"});
  EXPECT_EQ(longer.outputFolder, "archive");

  // An existing folder is one whatever its length, and gets the "/" that joins the names to it.
  testsupport::ScratchDir dir;
  std::filesystem::create_directory(dir / "o");
  for (std::string arg : {(dir / "o").string(), (dir / "o").string() + "/", std::string(".")}) {
    ConversionOptions existing;
    parse(&existing, {arg});
    EXPECT_EQ(existing.outputFolder, arg.back() == '/' ? arg : arg + "/");
  }
}

TEST(CommandLineParse, AbsoluteFolderIsNotTakenForASwitch) {
  ConversionOptions o;
  parse(&o, {"/srv/exports/"});
  EXPECT_EQ(o.outputFolder, "/srv/exports/");

  ConversionOptions sw;
  parse(&sw, {"/STATUS=/tmp/run.log", "/unknown"});
  EXPECT_EQ(sw.statusFile, "/tmp/run.log");
  EXPECT_TRUE(sw.outputFolder.empty());
}

TEST(CommandLineParse, FirstArgumentIsNeverParsed) {
  ConversionOptions o;
  const char* argv[] = {"/SILENT", "shop.mdb"};
  parseCommandLine(&o, 2, argv);
  EXPECT_EQ(o.silent, 0);
  EXPECT_EQ(o.sourcePath, "shop.mdb");
}

TEST(CommandLineParse, TableFilterIsUpperCasedBetweenSemicolons) {
  ConversionOptions o;
  parse(&o, {"/TABLES=Orders;Staff"});
  ASSERT_TRUE(o.tableFilter);
  EXPECT_EQ(*o.tableFilter, ";ORDERS;STAFF;");
  EXPECT_NE(o.tableFilter->find(";ORDERS;"), std::string::npos);
  EXPECT_EQ(o.tableFilter->find(";ORDER;"), std::string::npos);

  parse(&o, {"/tables=Orders,Staff"});
  EXPECT_EQ(*o.tableFilter, ";ORDERS,STAFF;");  // a comma separates nothing

  parse(&o, {"/TABLES=*"});
  EXPECT_FALSE(o.tableFilter);
}

TEST(CommandLineParse, CaseFoldingTouchesOnlyAsciiLetters) {
  ConversionOptions o;
  parse(&o, {"/TABLES=Straße;çay", "/ONLYFIELDS=naïve"});
  EXPECT_EQ(*o.tableFilter, ";STRAßE;çAY;");
  EXPECT_EQ(*o.onlyFields, ";NAïVE;");
  parse(&o, {"/ONLYFIELDS=*"});
  EXPECT_FALSE(o.onlyFields);
}

TEST(CommandLineParse, OverwriteForms) {
  ConversionOptions o;
  parse(&o, {"/OVERWRITE=SKIP"});
  EXPECT_EQ(o.overwriteFile, 2);
  parse(&o, {"/OVERWRITE=no"});
  EXPECT_EQ(o.overwriteFile, 0);
  parse(&o, {"/OVERWRITE=2"});
  EXPECT_EQ(o.overwriteFile, 2);
  parse(&o, {"/OVERWRITETABLE=2"});  // no numeric form for 2
  EXPECT_EQ(o.overwriteTable, 0);
  parse(&o, {"/OVERWRITETABLE=SKIP"});
  EXPECT_EQ(o.overwriteTable, 2);
  EXPECT_EQ(o.overwriteFile, 2);  // the table switch is not the file switch
  parse(&o, {"/OverWriteTable=No"});
  EXPECT_EQ(o.overwriteTable, 0);
}

TEST(CommandLineParse, ExactSwitchesMustMatchWholly) {
  ConversionOptions o;
  parse(&o, {"/OPEN=1x", "/OPEN=01", "/HEADER=YES", "/RECORDS=1", "/SILENTLY"});
  EXPECT_EQ(o.openOutput, 1);
  EXPECT_EQ(o.writeHeader, 1);
  EXPECT_EQ(o.exportRecords, 1);
  EXPECT_EQ(o.silent, 0);
  parse(&o, {"/open=0", "-header=0", "/RECORDS=0", "/onlynew=1", "/LOG", "/WAIT", "/BATCH", "/SILENT"});
  EXPECT_EQ(o.openOutput, 0);
  EXPECT_EQ(o.writeHeader, 0);
  EXPECT_EQ(o.exportRecords, 0);
  EXPECT_EQ(o.headerOnlyForNewSheets, 1);
  EXPECT_EQ(o.logEnabled, 1);
  EXPECT_EQ(o.wait, 1);
  EXPECT_EQ(o.batch, 1);
  EXPECT_EQ(o.silent, 1);
  parse(&o, {"/TYPE=ANY", "/ONLYNEW=0"});
  EXPECT_EQ(o.bookType, 0);
  EXPECT_EQ(o.headerOnlyForNewSheets, 0);
}

TEST(CommandLineParse, PrefixValuesAreTakenAsWritten) {
  ConversionOptions o;
  parse(&o, {"/PASSWORD=Se cret;pwd=x", "/MAXLEN=12abc", "/STATUS=/tmp/s.ini"});
  EXPECT_EQ(o.password, "Se cret;pwd=x");
  EXPECT_EQ(o.maxLength, 12);
  EXPECT_EQ(o.statusFile, "/tmp/s.ini");
  parse(&o, {"/PASSWORD=", "/STATUS=", "/MAXLEN=abc"});
  EXPECT_TRUE(o.password.empty());
  EXPECT_TRUE(o.statusFile.empty());
  EXPECT_EQ(o.maxLength, 0);
}

TEST(CommandLineParse, BareStatusNamesStatusLogBesideTheExecutable) {
  ConversionOptions o;
  parse(&o, {"/status"});
  EXPECT_EQ(o.statusFile, folderOf(executablePath()) + "status.log");
  EXPECT_EQ(o.statusFile.front(), '/');
}

TEST(CommandLineParse, ColumnsForms) {
  ConversionOptions o;
  parse(&o, {"/COLUMNS=3-7"});
  EXPECT_EQ(*o.columnList, "3-7");
  EXPECT_EQ(o.firstColumn, 3);
  EXPECT_EQ(o.lastColumn, 7);
  parse(&o, {"/COLUMNS=12"});
  EXPECT_EQ(o.firstColumn, 12);
  EXPECT_EQ(o.lastColumn, 12);
  parse(&o, {"/COLUMNS=name,price2"});
  EXPECT_EQ(*o.columnList, ",NAME,PRICE2,");
}

TEST(CommandLineParse, OrderIsCutToAHundredCharacters) {
  ConversionOptions o;
  parse(&o, {"/ORDER=" + std::string(150, 'k')});
  EXPECT_EQ(o.sortOrder, std::string(100, 'k'));
  // A character is never split by the cut.
  parse(&o, {"/ORDER=" + std::string(99, 'k') + "é"});
  EXPECT_EQ(o.sortOrder, std::string(99, 'k'));
}

TEST(CommandLineParse, LongPathsAndPasswordsAreKeptWhole) {
  std::string deep = "/data/" + std::string(600, 'd') + "/shop.accdb";
  std::string secret(400, 'p');
  ConversionOptions o;
  parse(&o, {deep, "/PASSWORD=" + secret});
  EXPECT_EQ(o.sourcePath, deep);
  EXPECT_EQ(o.password, secret);
}

TEST(CommandLineBuild, DefaultRecord) {
  ConversionOptions o;
  EXPECT_EQ(buildCommandLine(&o), "  /OVERWRITE=0 /ONLYNEW=0 /TYPE=ANY /OPEN=1 \n/SILENT ");
}

TEST(CommandLineBuild, EveryPartInItsPlace) {
  ConversionOptions o;
  o.sourcePath = "/data/shop.mdb";
  o.outputPath = "/out/shop.xls";
  o.password = "pw";
  o.tableFilter = ";ORDERS;STAFF;";
  o.overwriteFile = 2;
  o.exportRecords = 0;
  o.maxLength = 40;
  o.headerOnlyForNewSheets = 1;
  o.bookType = 1;
  o.sortOrder = "Name";
  o.statusFile = "/tmp/status.log";
  o.openOutput = 0;
  o.batch = 1;
  o.wait = 1;
  o.writeHeader = 0;       // never written
  o.overwriteTable = 1;    // never written
  o.selectedTables = ";Orders;";
  EXPECT_EQ(buildCommandLine(&o),
            "/data/shop.mdb /out/shop.xls /PASSWORD=pw \"/TABLES=;ORDERS;STAFF;\" /OVERWRITE=1 /RECORDS=0 /MAXLEN=40 "
            "/ONLYNEW=1 /TYPE=2007 /ORDER=Name /STATUS=/tmp/status.log /OPEN=0 /BATCH /WAIT \n/SILENT ");
}

TEST(CommandLineBuild, OutputFolderWinsOverOutputPath) {
  ConversionOptions o;
  o.outputFolder = "/out/";
  o.outputPath = "/out/x.xls";
  EXPECT_EQ(buildCommandLine(&o).substr(0, 7), " /out/ ");
}

TEST(CommandLineBuild, PartsWithBlanksAreQuotedAndParseBack) {
  ConversionOptions o;
  o.sourcePath = "/home/me/My Data/shop.accdb";
  o.outputPath = "/home/me/out.xlsx";
  o.password = "two words";
  std::string text = buildCommandLine(&o);
  EXPECT_EQ(text.substr(0, 48), "\"/home/me/My Data/shop.accdb\" /home/me/out.xlsx ");
  EXPECT_NE(text.find("\"/PASSWORD=two words\" "), std::string::npos);
}

TEST(CommandLineBuild, LongFilterIsCutAfterAWholeName) {
  ConversionOptions o;
  std::string filter = ";";
  for (int i = 0; filter.size() < 9000; ++i) filter += "TABLE" + std::to_string(i) + ";";
  o.tableFilter = filter;
  std::string text = buildCommandLine(&o);
  EXPECT_LE(text.size(), kCommandLineMaxLength);
  auto begin = text.find("\"/TABLES=");
  ASSERT_NE(begin, std::string::npos);
  begin += 1;
  auto end = text.find("\" ", begin);
  std::string kept = text.substr(begin + 8, end - begin - 8);
  ASSERT_GT(kept.size(), 2u);
  EXPECT_EQ(kept.back(), ';');
  EXPECT_EQ(filter.substr(0, kept.size()), kept);  // a prefix ending at a name boundary
  EXPECT_EQ(text.substr(text.size() - 9), "\n/SILENT ");
  EXPECT_NE(text.find("/OVERWRITE=0 /ONLYNEW=0 /TYPE=ANY /OPEN=1 "), std::string::npos);
}

TEST(CommandLineBuild, BuiltTextParsesBackIntoTheSameSettings) {
  ConversionOptions o;
  o.sourcePath = "/data/shop.accdb";
  o.outputPath = "/out/shop.xlsx";
  o.password = "pw";
  o.overwriteFile = 1;
  o.bookType = 1;
  o.openOutput = 0;
  o.statusFile = "/tmp/st.log";
  std::string text = buildCommandLine(&o);
  std::vector<std::string> args;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = text.find_first_of(" \n", pos);
    if (next == std::string::npos) next = text.size();
    if (next > pos) args.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
  ConversionOptions back;
  parse(&back, args);
  EXPECT_EQ(back.sourcePath, o.sourcePath);
  EXPECT_EQ(back.outputPath, o.outputPath);
  EXPECT_EQ(back.password, o.password);
  EXPECT_EQ(back.overwriteFile, 1);
  EXPECT_EQ(back.bookType, 1);
  EXPECT_EQ(back.openOutput, 0);
  EXPECT_EQ(back.statusFile, o.statusFile);
  EXPECT_EQ(back.silent, 1);
}

TEST(CommandLineParse, QueriesAndParameterValues) {
  ConversionOptions o;
  parse(&o, {"/queries=1", "/PARAMETERS=Start=1/1/1997;End Date=a=b;;NoValue;Start=2/1/1997"});
  EXPECT_EQ(o.exportQueries, 1);
  ASSERT_EQ(o.parameters.size(), 2u);  // an item without "=" is left out; a later value wins
  EXPECT_EQ(o.parameters[0].name, "End Date");
  EXPECT_EQ(o.parameters[0].value, "a=b");
  EXPECT_EQ(o.parameters[1].name, "Start");
  EXPECT_EQ(o.parameters[1].value, "2/1/1997");
  std::string text = buildCommandLine(&o);
  EXPECT_NE(text.find("/QUERIES=1 \"/PARAMETERS=End Date=a=b;Start=2/1/1997\" "), std::string::npos) << text;
  parse(&o, {"/QUERIES=0"});
  EXPECT_EQ(o.exportQueries, 0);
}
