#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "library/quarlex.h"
#include "tests/job/fixtures.h"

using namespace jobtest;

namespace {

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { writeDb(dir / "shop.mdb", {countingTable("Orders", 3), countingTable("MSysNotes", 1)}); }
  std::string path(const std::string& name) { return (dir / name).string(); }
  int convert(std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return QUARLEX_Converter(0, static_cast<int>(argv.size()), argv.data());
  }
  testsupport::ScratchDir dir;
};

}  // namespace

TEST_F(LibraryTest, ResultCodes) {
  EXPECT_EQ(convert({path("shop.mdb")}), 1);  // the first entry is never parsed
  EXPECT_EQ(convert({"x", "/OVERWRITE=1"}), 1);
  EXPECT_EQ(convert({"x", path("shop.mdb")}), 2);
  EXPECT_EQ(convert({"x", path("*.accdb"), path("none.xls")}), 0);  // nothing matches
  EXPECT_FALSE(std::filesystem::exists(path("none.xls")));
  EXPECT_EQ(convert({"x", path("shop.mdb"), path("shop.xlsx"), "/TYPE=2007"}), 0);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("shop.xlsx"))), nlohmann::json::array({"Orders"}));

  testsupport::writeFileBytes(path("bad.mdb"), "not a database at all, just text");
  EXPECT_EQ(convert({"x", path("*.mdb"), path("both.xls")}), 3);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("both.xls"))), nlohmann::json::array({"Orders"}));
  EXPECT_EQ(convert({"x", path("shop.mdb"), path("no/folder/out.xls")}), 4);  // the workbook was not saved
  std::filesystem::create_hard_link(path("shop.mdb"), path("same.xls"));
  EXPECT_EQ(convert({"x", path("shop.mdb"), path("same.xls"), "/OVERWRITE=1"}), 4);  // never over the database
  EXPECT_EQ(convert({"x", path("missing.mdb"), path("none.xls")}), 5);  // a plain path that names no file
  EXPECT_FALSE(std::filesystem::exists(path("none.xls")));
  EXPECT_EQ(QUARLEX_Converter(0, 0, nullptr), 1);
  EXPECT_EQ(QUARLEX_Converter(0, 3, nullptr), 1);

  // A table that TABLES= names and the database lacks: told, and the others are converted.
  int code = -1;
  std::string err = capturedStderr([&] { code = convert({"x", path("shop.mdb"), path("t.xls"), "/TABLES=Orders;Gone"}); });
  EXPECT_EQ(code, 3);
  EXPECT_EQ(err, "Error: The database " + path("shop.mdb") + " has no table Gone; it was not converted.\n");
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(path("t.xls"))), nlohmann::json::array({"Orders"}));
  // The caller gets the same lines, on its own thread only, until its next call.
  EXPECT_EQ(QUARLEX_LastMessages(), err);
  std::thread([] { EXPECT_STREQ(QUARLEX_LastMessages(), ""); }).join();

  // Two databases: both named, nothing converted.
  err = capturedStderr([&] { code = convert({"x", path("shop.mdb"), path("bad.mdb"), path("two.xls")}); });
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err, "Error: more than one database was given (" + path("shop.mdb") + " and " + path("bad.mdb") +
                     "); a run converts one, or those that a wildcard matches. Nothing was converted.\n");
  EXPECT_EQ(QUARLEX_LastMessages(), err);
  EXPECT_FALSE(std::filesystem::exists(path("two.xls")));
  EXPECT_EQ(convert({"x", path("shop.mdb"), path("shop.xlsx"), "/TYPE=2007"}), 0);
  EXPECT_STREQ(QUARLEX_LastMessages(), "");
}

TEST_F(LibraryTest, StringFormIsCutInPlace) {
  std::string text = "x#" + path("shop.mdb") + "##" + path("shop.xls") + "#/OVERWRITE=1#";
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  EXPECT_EQ(QUARLEX_ConverterStr(0, buffer.data()), 0);
  EXPECT_TRUE(std::filesystem::exists(path("shop.xls")));
  std::string expected = text;
  for (size_t at : {size_t{1}, 2 + path("shop.mdb").size(), text.size() - 14, text.size() - 1}) expected[at] = '\0';
  EXPECT_EQ(std::string(buffer.data(), text.size()), expected);

  std::string noDummy = path("shop.mdb") + "#" + path("shop.xls");
  std::vector<char> b2(noDummy.begin(), noDummy.end());
  b2.push_back('\0');
  EXPECT_EQ(QUARLEX_ConverterStr(0, b2.data()), 1);  // the source path was the skipped token
  char empty[] = "";
  char hashes[] = "###";
  EXPECT_EQ(QUARLEX_ConverterStr(0, empty), 1);
  EXPECT_EQ(QUARLEX_ConverterStr(0, hashes), 1);
}

TEST_F(LibraryTest, StatusSwitchWritesNoFileInTheLibrary) {
  EXPECT_EQ(convert({"x", path("shop.mdb"), path("s.xls"), "/STATUS=" + path("status.log")}), 0);
  EXPECT_FALSE(std::filesystem::exists(path("status.log")));
}

TEST_F(LibraryTest, TooManyArgumentsAreRefused) {
  std::vector<std::string> args{"x", path("shop.mdb"), path("many.xls")};
  while (args.size() <= 2048) args.push_back("/HEADER=1");
  EXPECT_EQ(convert(args), 1);
  EXPECT_FALSE(std::filesystem::exists(path("many.xls")));
}

TEST_F(LibraryTest, ForeignCallerThroughCtypes) {
  std::string script = R"(
import ctypes, sys
out = []
for name in ("libquarlex_d.so", "libquarlex_d2007.so"):
    lib = ctypes.CDLL(sys.argv[1] + "/" + name)
    lib.QUARLEX_ConverterStr.argtypes = [ctypes.c_uint, ctypes.c_char_p]
    lib.QUARLEX_Converter.argtypes = [ctypes.c_uint, ctypes.c_int, ctypes.POINTER(ctypes.c_char_p)]
    text = ctypes.create_string_buffer(("x#%s#%s/%s.xlsx#/TYPE=2007" % (sys.argv[2], sys.argv[3], name)).encode())
    out.append(lib.QUARLEX_ConverterStr(0, text))
    out.append(text.raw.split(b"\0")[1] == sys.argv[2].encode())
    argv = (ctypes.c_char_p * 2)(b"x", sys.argv[2].encode())
    out.append(lib.QUARLEX_Converter(0, 2, argv))
print(out)
)";
  auto r = testsupport::runCommand(
      {testsupport::python(), "-c", script, QUARLEX_LIB_DIR, path("shop.mdb"), dir.path().string()},
      {std::string("LD_PRELOAD=") + QUARLEX_SANITIZER_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "[0, True, 2, 0, True, 2]\n");
  for (const char* name : {"libquarlex_d.so", "libquarlex_d2007.so"})
    EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / (std::string(name) + ".xlsx"))),
              nlohmann::json::array({"Orders"}));
}

TEST(LibraryExports, OnlyTheEntryPoints) {
  for (const char* name : {"libquarlex_d.so", "libquarlex_d2007.so"}) {
    auto r = testsupport::runCommand({"nm", "-D", "--defined-only", std::string(QUARLEX_LIB_DIR) + "/" + name});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> symbols;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      auto space = line.rfind(' ');
      std::string type = line.size() > 17 ? line.substr(17, 1) : "";
      if (type == "T" || type == "W" || type == "D" || type == "B" || type == "V") symbols.push_back(line.substr(space + 1));
    }
    EXPECT_EQ(symbols, (std::vector<std::string>{"QUARLEX_Converter", "QUARLEX_ConverterStr", "QUARLEX_LastMessages"})) << r.out;
  }
}
