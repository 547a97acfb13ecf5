#include <gtest/gtest.h>

#include "tests/job/fixtures.h"

using namespace jobtest;

namespace {

// Each test runs its own copy of the program, so the settings file and status.log beside the
// executable are the test's own.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"quarlex2007", "quarlex"})
      std::filesystem::copy_file(std::filesystem::path(QUARLEX_BIN_DIR) / name, dir / name);
    writeDb(dir / "shop.accdb", {countingTable("Orders", 4), countingTable("MSysNotes", 1)}, accesswriter::Format::Ace12);
  }
  testsupport::CommandResult run(std::vector<std::string> args, const char* program = "quarlex2007") {
    args.insert(args.begin(), (dir / program).string());
    // No display: the wizard can never appear, whatever the machine running the tests has.
    return testsupport::runCommand(args, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LC_ALL=C",
                                          "XDG_CONFIG_HOME=" + (dir / "config").string()});
  }
  std::string path(const std::string& name) { return (dir / name).string(); }
  std::string status() { return testsupport::readFileBytes(dir / "status.log"); }
  testsupport::ScratchDir dir;
};

}  // namespace

TEST_F(ProgramTest, SilentConvertsOnePlainPath) {
  for (const char* program : {"quarlex2007", "quarlex"}) {
    auto r = run({path("shop.accdb"), path("shop.xls"), "/TYPE=2007", "/OVERWRITE=1", "/SILENT", "/STATUS"}, program);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(status(), "[QUARLEX]\nResult=Successful\n");
    auto book = testsupport::readWorkbook(path("shop.xlsx"));  // the x follows the type
    EXPECT_EQ(sheetNames(book), nlohmann::json::array({"Orders"}));
    EXPECT_EQ(book[0]["rows"].size(), 5u);
  }
}

TEST_F(ProgramTest, BatchWithWildcardConvertsIntoTheOutputFolder) {
  std::filesystem::create_directory(dir / "out");
  auto r = run({path("*.accdb"), path("out") + "/", "/BATCH", "/STATUS=" + path("run.ini")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(testsupport::readFileBytes(dir / "run.ini"), "[QUARLEX]\nResult=Successful\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "shop.xls"));
}

TEST_F(ProgramTest, FailuresAreToldInTheStatusExitCodeAndOnStandardError) {
  auto r = run({path("missing.mdb"), path("x.xls"), "/SILENT", "/STATUS"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Failed\n");
  EXPECT_NE(r.err.find("missing.mdb"), std::string::npos);

  testsupport::writeFileBytes(dir / "bad.mdb", std::string(4096, '\0'));
  r = run({path("bad.mdb"), path("x.xls"), "/SILENT", "/STATUS"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: Cannot open the database " + path("bad.mdb") + ".\n" + path("bad.mdb") +
                       ": not an Access database\n");
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Failed\n");

  // The second line says why the database did not open.
  accesswriter::Options locked;
  locked.password = "secret";
  accesswriter::writeDatabase(dir / "locked.mdb", locked, {countingTable("T", 1)});
  std::string cut = testsupport::readFileBytes(dir / "shop.accdb").substr(0, 2 * 4096);
  testsupport::writeFileBytes(dir / "cut.accdb", cut);
  for (auto [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{path("locked.mdb")}, "a password is needed (give it with /PASSWORD=)"},
           {{path("locked.mdb"), "/PASSWORD=guess"}, "the password is wrong"},
           {{path("cut.accdb")}, "damaged: the file is cut short"}}) {
    std::string db = args[0];
    args.insert(args.end(), {path("x.xls"), "/SILENT"});
    r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error: Cannot open the database " + db + ".\n" + db + ": " + reason + "\n");
  }

  // A wildcard that matches nothing has nothing to do: not a failure.
  r = run({path("*.mdx.mdb"), "/SILENT", "/STATUS"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Successful\n");
}

TEST_F(ProgramTest, XlsmIsMacroEnabledAndXlsbIsRefusedBeforeConverting) {
  auto r = run({path("shop.accdb"), path("shop.xlsm"), "/TYPE=2007", "/SILENT"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = testsupport::runCommand({testsupport::python(), "-c",
                               "import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).read('[Content_Types].xml').decode())",
                               path("shop.xlsm")});
  EXPECT_NE(r.out.find("PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.ms-excel.sheet.macroEnabled.main+xml\""),
            std::string::npos) << r.out;
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("shop.xlsm"))), nlohmann::json::array({"Orders"}));

  for (auto [name, type, reason] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"x.xlsb", "/TYPE=2007", "a .xlsb workbook is Excel's binary format"},
           {"x.xlsm", "/TYPE=ANY", "a .xlsm workbook cannot hold the .xls format"}}) {
    r = run({path("shop.accdb"), path(name), type, "/SILENT", "/STATUS"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Error: Cannot create XLS file.\n" + path(name) + ": " + reason, 0), 0u) << r.err;
    EXPECT_EQ(status(), "[QUARLEX]\nResult=Failed\n");
    EXPECT_FALSE(std::filesystem::exists(dir / name));
  }
}

TEST_F(ProgramTest, WizardPathWithoutDisplayConvertsNothing) {
  for (std::vector<std::string> args : {std::vector<std::string>{path("shop.accdb"), path("w.xls"), "/STATUS"},
                                        std::vector<std::string>{path("shop.accdb"), path("w.xls"), "/BATCH", "/STATUS"},
                                        std::vector<std::string>{path("shop.accdb"), path("w.xls"), "/WAIT", "/STATUS"}}) {
    auto r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/SILENT"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "w.xls"));
  }
}

TEST_F(ProgramTest, SettingsFileBesideTheProgramThenTheCommandLine) {
  testsupport::runPython("import openpyxl,sys\nb=openpyxl.Workbook()\nb.active.title='Old'\nb.save(sys.argv[1])",
                         {path("keep.xlsx")});
  testsupport::writeFileBytes(dir / "quarlex2007.ini", "[Common]\nOverWrite=1\n");
  auto r = run({path("shop.accdb"), path("keep.xlsx"), "/TYPE=2007", "/SILENT", "/OVERWRITE=0"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("keep.xlsx"))), nlohmann::json::array({"Old", "Orders"}));
  r = run({path("shop.accdb"), path("keep.xlsx"), "/TYPE=2007", "/SILENT"});
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("keep.xlsx"))), nlohmann::json::array({"Orders"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "config"));  // unattended runs leave the recent paths alone
}
