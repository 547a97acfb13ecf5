#include <gtest/gtest.h>

#include "options/conversion_options.h"

TEST(OptionsRecord, NewRecordHasTheStartUpDefaults) {
  ConversionOptions o;
  EXPECT_EQ(o.openOutput, 1);
  EXPECT_EQ(o.exportRecords, 1);
  EXPECT_EQ(o.writeHeader, 1);
  for (int32_t flag : {o.overwriteFile, o.overwriteTable, o.maxLength, o.bookType, o.headerOnlyForNewSheets,
                       o.firstColumn, o.lastColumn, o.tablesExported, o.recordsExported, o.logEnabled, o.batch,
                       o.wait, o.silent, o.cancelRequested.load()})
    EXPECT_EQ(flag, 0);
  for (const std::string* text : {&o.sourcePath, &o.outputPath, &o.outputFolder, &o.password, &o.sortOrder,
                                  &o.statusFile})
    EXPECT_TRUE(text->empty());
  EXPECT_FALSE(o.selectedTables.has_value());
  EXPECT_FALSE(o.tableFilter.has_value());
  EXPECT_FALSE(o.onlyFields.has_value());
  EXPECT_FALSE(o.columnList.has_value());
  EXPECT_EQ(o.database, nullptr);
  EXPECT_EQ(o.book, nullptr);
  EXPECT_EQ(o.progressWindow, nullptr);
  EXPECT_EQ(o.titleFont, nullptr);
}
