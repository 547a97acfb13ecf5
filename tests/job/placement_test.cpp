#include <gtest/gtest.h>

#include "tests/job/fixtures.h"
#include "workbook/export/sheet_placement.h"
#include "workbook/xl.h"

using namespace jobtest;

namespace {
struct Book {
  explicit Book(bool xlsx) : handle(xlsx ? xlCreateXMLBookCA() : xlCreateBookCA()) {}
  ~Book() { xlBookReleaseA(handle); }
  BookHandle handle;
};
}  // namespace

TEST(Placement, NewSheetInAnEmptyBook) {
  Book book(true);
  Placement p;
  ASSERT_TRUE(placeTableSheet(book.handle, "Orders", 0, &p));
  EXPECT_FALSE(p.existed);
  EXPECT_EQ(p.row, 0);
  EXPECT_STREQ(xlSheetNameA(p.sheet), "Orders");
  EXPECT_TRUE(headerRowDue(1, 0, p.existed));
  EXPECT_TRUE(headerRowDue(1, 1, p.existed));
  EXPECT_FALSE(headerRowDue(0, 0, p.existed));
}

TEST(Placement, SameNameInOtherCaseIsContinuedOrReplaced) {
  for (int mode : {0, 1, 2}) {
    Book book(true);
    SheetHandle notes = xlBookAddSheetA(book.handle, "Notes", nullptr);
    SheetHandle old = xlBookAddSheetA(book.handle, "ORDERS", nullptr);
    SheetHandle after = xlBookAddSheetA(book.handle, "After", nullptr);
    ASSERT_TRUE(notes && old && after);
    for (int r = 0; r < 3; ++r) xlSheetWriteNumA(old, r, 0, r, nullptr);
    Placement p;
    ASSERT_TRUE(placeTableSheet(book.handle, "Orders", mode, &p));
    if (mode == 0) {
      EXPECT_TRUE(p.existed);
      EXPECT_EQ(p.sheet, old);
      EXPECT_EQ(p.row, 3);
      EXPECT_TRUE(headerRowDue(1, 0, p.existed));
      EXPECT_FALSE(headerRowDue(1, 1, p.existed));
    } else {
      EXPECT_FALSE(p.existed);
      EXPECT_EQ(p.row, 0);
      ASSERT_EQ(xlBookSheetCountA(book.handle), 3);
      EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book.handle, 0)), "Notes");
      EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book.handle, 1)), "After");
      EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book.handle, 2)), "Orders");  // added after the others
    }
  }
}

TEST(Placement, ContinuationSheetsCountAcrossTablesAndSkipTakenNames) {
  Book book(false);
  Placement a;
  ASSERT_TRUE(placeTableSheet(book.handle, "Big", 0, &a));
  int first = nextContinuationNumber();
  a.row = kLastRecordRow - 1;
  ASSERT_TRUE(advanceAfterRecord(book.handle, "Big", &a));
  EXPECT_EQ(a.row, kLastRecordRow);
  EXPECT_STREQ(xlSheetNameA(a.sheet), "Big");
  ASSERT_TRUE(advanceAfterRecord(book.handle, "Big", &a));
  EXPECT_EQ(a.row, 0);
  EXPECT_EQ(xlSheetNameA(a.sheet), "Big" + std::to_string(first));

  // A sheet already bears the next number's name: the number after it is taken instead.
  ASSERT_TRUE(xlBookAddSheetA(book.handle, ("Other" + std::to_string(first + 1)).c_str(), nullptr));
  Placement b;
  ASSERT_TRUE(placeTableSheet(book.handle, "Other", 0, &b));
  b.row = kLastRecordRow;
  ASSERT_TRUE(advanceAfterRecord(book.handle, "Other", &b));
  EXPECT_EQ(xlSheetNameA(b.sheet), "Other" + std::to_string(first + 2));
  EXPECT_EQ(nextContinuationNumber(), first + 3);
}

TEST(Placement, RefusedNamesAreDerivedAndLongNamesMakeRoomForTheirNumber) {
  Book book(true);
  Placement p;
  ASSERT_TRUE(placeTableSheet(book.handle, "Bad/Name", 0, &p));
  EXPECT_STREQ(xlSheetNameA(p.sheet), "Bad_Name");
  ASSERT_TRUE(placeTableSheet(book.handle, "bad:name", 0, &p));  // the same derived name, another table
  EXPECT_STREQ(xlSheetNameA(p.sheet), "bad_name~2");
  ASSERT_TRUE(placeTableSheet(book.handle, std::string(31, 'x'), 0, &p));
  p.row = kLastRecordRow;
  int number = nextContinuationNumber();
  ASSERT_TRUE(advanceAfterRecord(book.handle, p.sheetName, &p));
  std::string digits = std::to_string(number);
  EXPECT_EQ(xlSheetNameA(p.sheet), std::string(31 - digits.size(), 'x') + digits);
  EXPECT_EQ(p.sheetName, std::string(31, 'x'));
}
