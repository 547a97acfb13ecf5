// The switches for ready-to-use workbooks: /CELLS=TYPED, /LAYOUT=TABLE, /ROWS=N and /FILES=1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options/command_line.h"
#include "options/conversion_options.h"
#include "tests/options/parse_args.h"

TEST(TableSwitches, OffByDefaultAndNotWritten) {
  ConversionOptions o;
  EXPECT_EQ(o.typedCells, 0);
  EXPECT_EQ(o.tableLayout, 0);
  EXPECT_EQ(o.rowLimit, 0);
  EXPECT_EQ(o.valueFiles, 0);
  EXPECT_EQ(buildCommandLine(&o).find("/CELLS"), std::string::npos);
  EXPECT_EQ(buildCommandLine(&o).find("/FILES"), std::string::npos);
}

TEST(TableSwitches, ExactFormsWithoutRegardToCase) {
  ConversionOptions o;
  parse(&o, {"-cells=typed", "/Layout=Table", "/files=1"});
  EXPECT_EQ(o.typedCells, 1);
  EXPECT_EQ(o.tableLayout, 1);
  EXPECT_EQ(o.valueFiles, 1);
  parse(&o, {"/FILES=YES", "/FILES=2", "/FILES"});  // ignored
  EXPECT_EQ(o.valueFiles, 1);
  parse(&o, {"/FILES=0"});
  EXPECT_EQ(o.valueFiles, 0);

  ConversionOptions other;  // unknown values and longer names are ignored
  parse(&other, {"/CELLS=TYPEDX", "/CELLS=TEXT", "/LAYOUT=TABLES", "/LAYOUT=", "/CELLS"});
  EXPECT_EQ(other.typedCells, 0);
  EXPECT_EQ(other.tableLayout, 0);
}

TEST(TableSwitches, RowsTakesDigitsAndIsCutToTheLargestSheet) {
  ConversionOptions o;
  parse(&o, {"/rows=200000"});
  EXPECT_EQ(o.rowLimit, 200000);
  parse(&o, {"/ROWS=abc", "/ROWS=", "/ROWS=0", "/ROWS=-5", "/ROWS=12x"});  // ignored: the last value stays
  EXPECT_EQ(o.rowLimit, 200000);
  parse(&o, {"/ROWS=99999999999999999999999"});
  EXPECT_EQ(o.rowLimit, kLargestRowLimit);
  parse(&o, {"/ROWS=1"});
  EXPECT_EQ(o.rowLimit, 1);
}

TEST(TableSwitches, BuiltAfterOpenAndBeforeTheLineBreak) {
  ConversionOptions o;
  o.sourcePath = "/d/shop.mdb";
  o.outputPath = "/o/shop.xlsx";
  o.bookType = 1;
  o.typedCells = 1;
  o.tableLayout = 1;
  o.rowLimit = 1048575;
  o.valueFiles = 1;
  o.batch = 1;
  EXPECT_EQ(buildCommandLine(&o),
            "/d/shop.mdb /o/shop.xlsx /OVERWRITE=0 /ONLYNEW=0 /TYPE=2007 /OPEN=1 /CELLS=TYPED /LAYOUT=TABLE "
            "/ROWS=1048575 /FILES=1 /BATCH \n/SILENT ");

  // The built text parses back into the same switches.
  std::string text = buildCommandLine(&o);
  std::vector<std::string> args;
  for (size_t pos = 0; pos < text.size();) {
    size_t next = text.find_first_of(" \n", pos);
    if (next == std::string::npos) next = text.size();
    if (next > pos) args.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
  ConversionOptions back;
  parse(&back, args);
  EXPECT_EQ(back.typedCells, 1);
  EXPECT_EQ(back.tableLayout, 1);
  EXPECT_EQ(back.rowLimit, 1048575);
  EXPECT_EQ(back.valueFiles, 1);
}
