#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <iterator>

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
    std::filesystem::create_directory(dir / "run");
  }
  // No display: the wizard can never appear, whatever the machine running the tests has.
  std::vector<std::string> environment() {
    return {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LC_ALL=C", "XDG_CONFIG_HOME=" + (dir / "config").string(),
            "XDG_RUNTIME_DIR=" + (dir / "run").string()};
  }
  // A null program runs the arguments as they are.
  testsupport::CommandResult run(std::vector<std::string> args, const char* program = "quarlex2007") {
    if (program) args.insert(args.begin(), (dir / program).string());
    return testsupport::runCommand(args, environment());
  }
  // Starts quarlex2007 without waiting; its standard error goes to err.txt.
  pid_t start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{(dir / "quarlex2007").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string errFile = (dir / "err.txt").string();
    std::vector<std::string> env = environment();
    pid_t child = fork();
    if (child == 0) {
      int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(fd, 2);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> cargv;
      for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
      cargv.push_back(nullptr);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    return child;
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

TEST_F(ProgramTest, FolderArgumentsAndFailuresThatOnceLookedLikeSuccess) {
  std::filesystem::create_directory(dir / "outdir");
  std::filesystem::create_directory(dir / "o");
  // An existing folder without its "/", and a short one with it, named from the current folder.
  for (const char* folder : {"outdir", "o/"}) {
    auto r = run({"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir.path().string(), path("quarlex2007"),
                  "shop.accdb", folder, "/SILENT"}, nullptr);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / folder / "shop.xls")) << folder;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "outdirshop.xls"));
  EXPECT_FALSE(std::filesystem::exists(dir / "shop.xls"));

  // A table the database lacks is told; the one it has is converted.
  auto r = run({path("shop.accdb"), path("t.xlsx"), "/TYPE=2007", "/TABLES=orders;Nope", "/SILENT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: The database " + path("shop.accdb") + " has no table Nope; it was not converted.\n");
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("t.xlsx"))), nlohmann::json::array({"Orders"}));

  // Refused before anything is read: a missing output folder, a folder that is a file, two
  // databases; a database without tables gives no workbook.
  testsupport::writeFileBytes(dir / "plain", "text");
  r = run({path("*.accdb"), path("gone/"), "/SILENT", "/BATCH", "/STATUS"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: Cannot save XLS file.\nthe folder " + path("gone") + ": No such file or directory\n");
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Failed\n");
  r = run({path("shop.accdb"), path("plain/out.xls"), "/SILENT"});
  EXPECT_EQ(r.err, "Error: Cannot save XLS file.\nthe folder " + path("plain") + ": Not a directory\n");
  r = run({path("shop.accdb"), path("other.mdb"), path("two.xls"), "/SILENT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: more than one database was given (" + path("shop.accdb") + " and " + path("other.mdb") +
                       "); a run converts one, or those that a wildcard matches. Nothing was converted.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "two.xls"));
  writeDb(dir / "empty.mdb", {});
  r = run({path("empty.mdb"), path("empty.xls"), "/SILENT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: The database " + path("empty.mdb") + " has no tables.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.xls"));

  // A status file that cannot be written is told once, and the run is no success: the script
  // that waits on the file learns of it from the exit code.
  r = run({path("shop.accdb"), path("s.xls"), "/SILENT", "/STATUS=" + path("none/run.ini")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: Cannot write the status file " + path("none/run.ini") + ": No such file or directory\n");

  // The database itself, through a hard link, is never the output.
  std::filesystem::create_hard_link(dir / "shop.accdb", dir / "same.xls");
  std::string before = testsupport::readFileBytes(dir / "shop.accdb");
  r = run({path("shop.accdb"), path("same.xls"), "/SILENT", "/OVERWRITE=1", "/STATUS"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Error: Cannot load XLS file.\n" + path("same.xls") + ": it is the database being converted", 0),
            0u) << r.err;
  EXPECT_EQ(testsupport::readFileBytes(dir / "shop.accdb"), before);
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Failed\n");
}

TEST_F(ProgramTest, SignalsStopTheRunAndKeepNothingOfIt) {
  writeDb(dir / "big.accdb", {countingTable("Orders", 400000)}, accesswriter::Format::Ace12);
  testsupport::runPython("import openpyxl,sys\nb=openpyxl.Workbook()\nb.active.title='Old'\nb.save(sys.argv[1])",
                         {path("keep.xlsx")});
  const std::string kept = testsupport::readFileBytes(dir / "keep.xlsx");
  struct Case {
    int signal;
    bool extend;
    bool twice;
    int exitCode;  // -1: killed
  };
  for (Case c : {Case{SIGINT, false, false, 130}, Case{SIGTERM, true, false, 143}, Case{SIGHUP, false, false, 129},
                 Case{SIGINT, true, true, 130}, Case{SIGKILL, false, false, -1}, Case{SIGKILL, true, false, -1}}) {
    SCOPED_TRACE(std::to_string(c.signal) + (c.extend ? " extending" : " new") + (c.twice ? " twice" : ""));
    std::string out = path(c.extend ? "keep.xlsx" : "new.xlsx");
    std::filesystem::remove(dir / "run.ini");
    pid_t child = start({path("big.accdb"), out, "/TYPE=2007", "/SILENT", "/STATUS=" + path("run.ini")});
    // A table has started once the status says so; then the signal comes during its export.
    for (int waited = 0; waited < 6000 && testsupport::readFileBytes(dir / "run.ini") != "[QUARLEX]\nResult=Failed\n"; ++waited)
      usleep(10 * 1000);
    kill(child, c.signal);
    if (c.twice) kill(child, c.signal);
    int status = 0;
    int waited = 0;
    while (waitpid(child, &status, WNOHANG) == 0 && waited++ < 3000) usleep(10 * 1000);
    if (waited > 3000) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << "the program did not end after the signal";
      continue;
    }
    if (c.exitCode < 0) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      // A second signal ends the run at once, or, when it comes after the run has stopped and
      // given the signal back its default action, ends it by that signal: the shell's code either way.
      const bool shellCode = WIFEXITED(status) ? WEXITSTATUS(status) == c.exitCode
                                               : c.twice && WIFSIGNALED(status) && 128 + WTERMSIG(status) == c.exitCode;
      EXPECT_TRUE(shellCode) << "wait status " << status;
      EXPECT_EQ(testsupport::readFileBytes(dir / "run.ini"), "[QUARLEX]\nResult=Failed\n");
      EXPECT_TRUE(std::filesystem::is_empty(dir / "run"));  // the lock went too, however the run ended
    }
    EXPECT_EQ(testsupport::readFileBytes(dir / "keep.xlsx"), kept);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.xlsx"));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      EXPECT_NE(entry.path().filename().string().rfind(".quarlex", 0), 0u) << entry.path();
  }
  EXPECT_NE(testsupport::readFileBytes(dir / "err.txt").find("Error: interrupted by SIGINT"), std::string::npos);
}

namespace {

// Runs the program with standard error on a pseudo-terminal COLUMNS wide; prints the exit code on
// the first line, then everything the terminal received.
constexpr const char* kOnTerminal = R"(
import fcntl, os, pty, struct, subprocess, sys, termios
master, slave = pty.openpty()
fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, int(sys.argv[1]), 0, 0))
process = subprocess.Popen(sys.argv[2:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave)
os.close(slave)
received = b""
while True:
    try:
        chunk = os.read(master, 4096)
    except OSError:
        break
    if not chunk:
        break
    received += chunk
print(process.wait())
sys.stdout.write(received.decode("utf-8", "replace"))
)";

// What the terminal showed, cut at each "\r" (the pty turns "\n" into "\r\n").
std::vector<std::string> terminalSegments(const std::string& received) {
  std::vector<std::string> segments;
  size_t start = received.find('\n') + 1;
  for (size_t at = start; at <= received.size(); ++at) {
    if (at == received.size() || received[at] == '\r') {
      segments.push_back(received.substr(start, at - start));
      start = at + 1;
    }
  }
  return segments;
}

}  // namespace

TEST_F(ProgramTest, ProgressLineOnATerminalOnly) {
  // Not a terminal: SilentConvertsOnePlainPath sees nothing on standard error.
  std::string shown = testsupport::runPython(kOnTerminal, {"200", (dir / "quarlex2007").string(), path("shop.accdb"),
                                                           path("shop.xlsx"), "/TYPE=2007", "/SILENT", "/STATUS"});
  EXPECT_EQ(shown.substr(0, 2), "0\n") << shown;
  EXPECT_NE(shown.find("shop.accdb: Orders 0 of 4"), std::string::npos) << shown;
  // Cleared at the end: the last thing written is blanks over the line, the cursor back at its start.
  std::vector<std::string> segments = terminalSegments(shown);
  ASSERT_GE(segments.size(), 2u) << shown;
  EXPECT_EQ(segments.back(), "");
  EXPECT_EQ(segments[segments.size() - 2].find_first_not_of(' '), std::string::npos) << shown;
  EXPECT_EQ(status(), "[QUARLEX]\nResult=Successful\n");

  // A narrow terminal: the line never reaches the last column, the counts stay whole. An error
  // (the batch's second database does not open) begins on a cleared line.
  std::filesystem::create_directories(dir / "batch" / "out");
  std::filesystem::copy_file(dir / "shop.accdb", dir / "batch" / "a.accdb");
  testsupport::writeFileBytes(dir / "batch" / "z.accdb", "no database");
  shown = testsupport::runPython(kOnTerminal, {"20", (dir / "quarlex2007").string(), path("batch/*.accdb"),
                                               path("batch/out/"), "/SILENT", "/BATCH"});
  EXPECT_EQ(shown.substr(0, 2), "1\n") << shown;
  segments = terminalSegments(shown);
  auto error = std::find_if(segments.begin(), segments.end(), [](auto& s) { return s.rfind("Error: ", 0) == 0; });
  ASSERT_NE(error, segments.end()) << shown;
  ASSERT_NE(error, segments.begin());
  EXPECT_EQ(std::prev(error)->find_first_not_of(' '), std::string::npos) << shown;
  bool countsShown = false;
  for (auto line = segments.begin(); line != error; ++line) {
    EXPECT_LE(line->size(), 19u) << *line;
    if (line->rfind("...", 0) == 0 && line->find(" 0 of 4") != std::string::npos) countsShown = true;
  }
  EXPECT_TRUE(countsShown) << shown;
}

TEST_F(ProgramTest, UnattendedRunsLoadNoQt) {
  for (const char* name : {"quarlex2007", "quarlex"}) {
    auto libraries = testsupport::runCommand({"ldd", (std::filesystem::path(QUARLEX_BIN_DIR) / name).string()});
    EXPECT_EQ(libraries.exitCode, 0);
    EXPECT_EQ(libraries.out.find("libQt"), std::string::npos) << libraries.out;
  }
#ifdef QUARLEX_WIZARD_LIBRARY_FILE
  EXPECT_NE(testsupport::runCommand({"ldd", QUARLEX_WIZARD_LIBRARY_FILE}).out.find("libQt6Widgets"), std::string::npos);
  // The copies here have no wizard's library beside them: they convert all the same, and the
  // wizard path names what is missing.
  auto r = run({path("shop.accdb"), path("shop.xls"), "/SILENT"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "shop.xls"));
  r = run({path("shop.accdb"), path("w.xls")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("libquarlex_wizard.so"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/SILENT"), std::string::npos) << r.err;

  // The built program opens the wizard from its library, Qt with it.
  std::string loaded = testsupport::runPython(R"(
import os, subprocess, sys, time
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=sys.argv[2])
process = subprocess.Popen([sys.argv[1]], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
maps = ""
for _ in range(600):
    time.sleep(0.1)
    maps = open("/proc/%d/maps" % process.pid).read() if process.poll() is None else ""
    if "libquarlex_wizard.so" in maps and "libQt6Widgets" in maps:
        break
process.kill()
process.wait()
print("wizard" if "libquarlex_wizard.so" in maps else "none", "qt" if "libQt6Widgets" in maps else "no qt")
)", {(std::filesystem::path(QUARLEX_BIN_DIR) / "quarlex2007").string(), path("config")});
  EXPECT_EQ(loaded, "wizard qt\n");
#endif
}

TEST(BashCompletion, SwitchesValuesAndPaths) {
  testsupport::ScratchDir dir;
  for (const char* name : {"shop.accdb", "Old.XLSX", "notes.txt"}) testsupport::writeFileBytes(dir / name, "");
  std::filesystem::create_directory(dir / "out");
  auto complete = [&](const std::string& words) {
    auto r = testsupport::runCommand(
        {"bash", "--norc", "-c",
         "source packaging/bash-completion/quarlex && COMP_WORDS=(" + words +
             ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _quarlex && printf '%s\\n' \"${COMPREPLY[@]}\" | sort"},
        {"LC_ALL=C"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };
  EXPECT_EQ(complete("quarlex2007 /TY"), "/TYPE=2007\n/TYPE=ANY\n");
  EXPECT_EQ(complete("quarlex -ov"), "-OVERWRITE=0\n-OVERWRITE=1\n-OVERWRITETABLE=0\n-OVERWRITETABLE=1\n");
  // Bash splits at "=": only the part after it is replaced.
  EXPECT_EQ(complete("quarlex2007 /TYPE ="), "2007\nANY\n");
  EXPECT_EQ(complete("quarlex2007 /type = a"), "ANY\n");
  std::string folder = dir.path().string() + "/";
  EXPECT_EQ(complete("quarlex2007 " + folder), folder + "Old.XLSX\n" + folder + "out\n" + folder + "shop.accdb\n");
  EXPECT_EQ(complete("quarlex2007 /STATUS = " + folder + "n"), folder + "notes.txt\n");
  EXPECT_EQ(complete("quarlex2007 --v"), "--version\n");
}

// Saved queries asked for: listed with --list, refused by name when a parameter has no value,
// passed over with a note under /QUERIES=1.
TEST_F(ProgramTest, QueriesListedAndParameterValuesAskedFor) {
  auto queries = testsupport::projectRoot() / ".." / "shared" / "testdata" / "queries" / "queries-params-jet4.mdb";
  if (!std::filesystem::exists(queries)) GTEST_SKIP() << "../shared/testdata/queries is absent";
  auto r = run({"--list", queries.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("table\tPerson\t4 records\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nquery\tPerson_SelectByKey\tselect\t@id\tPARAMETERS [@id] Long; SELECT * FROM Person "
                       "WHERE PersonID = [@id];\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\nquery\tPerson_Delete\tdelete\t@PersonID\t"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 15 + 14);  // every table and query, one a line
  r = run({"--list", path("shop.accdb")});
  EXPECT_EQ(r.out, "table\tOrders\t4 records\n");
  r = run({"--list", path("missing.accdb")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Cannot open the database " + path("missing.accdb")), std::string::npos) << r.err;

  r = run({queries.string(), path("q.xlsx"), "/TYPE=2007", "/SILENT", "/TABLES=Person;Person_SelectByName",
           "/PARAMETERS=@firstName=Ann"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Cannot convert the query \"Person_SelectByName\".\n" + queries.string() +
                       ": its parameter \"@lastName\" has no value"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("q.xlsx"))), nlohmann::json::array({"Person"}));
  r = run({queries.string(), path("a.xlsx"), "/TYPE=2007", "/SILENT", "/TABLES=Person_Delete"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("it is an action query, which is never run"), std::string::npos) << r.err;

  r = run({queries.string(), path("all.xlsx"), "/TYPE=2007", "/SILENT", "/TABLES=Person", "/QUERIES=1"});
  size_t notes = 0;
  for (size_t at = r.err.find("Note: query \""); at != std::string::npos; at = r.err.find("Note: query \"", at + 1)) ++notes;
  EXPECT_EQ(notes, 4u) << r.err;  // the four select queries with parameters; action queries never come
  EXPECT_NE(r.err.find("Note: query \"Person_SelectByKey\" of " + queries.string() +
                       " was not converted: its parameter \"@id\" has no value"),
            std::string::npos);
  EXPECT_EQ(r.err.find("Person_Insert"), std::string::npos);
}
