#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/text.h"

TEST(PlatformText, LeadingDecimal) {
  EXPECT_EQ(leadingDecimal("12abc", -1), 12);
  EXPECT_EQ(leadingDecimal("  -3", 0), -3);
  EXPECT_EQ(leadingDecimal("abc", 9), 9);
  EXPECT_EQ(leadingDecimal("", 9), 9);
  EXPECT_EQ(leadingDecimal("-", 9), 9);
  EXPECT_EQ(leadingDecimal("99999999999999999999", 0), 2147483647);
  EXPECT_EQ(leadingDecimal("-99999999999999999999", 0), -2147483648);
}

TEST(PlatformText, Utf8PrefixNeverSplitsACharacter) {
  EXPECT_EQ(utf8Prefix("abc", 10), "abc");
  EXPECT_EQ(utf8Prefix("ab\xC3\xA9", 3), "ab");
  EXPECT_EQ(utf8Prefix("a\xF0\x9F\x98\x80z", 4), "a");
  EXPECT_EQ(utf8Prefix("a\xF0\x9F\x98\x80z", 5), "a\xF0\x9F\x98\x80");
}

TEST(PlatformText, CaseFoldingIsAsciiOnly) {
  EXPECT_TRUE(asciiEqualsIgnoreCase("Orders", "oRDERS"));
  EXPECT_FALSE(asciiEqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));  // é and É differ
  EXPECT_TRUE(asciiEndsWithIgnoreCase("SHOP.AccDB", ".accdb"));
  EXPECT_FALSE(asciiEndsWithIgnoreCase("db", ".accdb"));
}

TEST(PlatformPaths, ExtensionReplacement) {
  EXPECT_EQ(replaceExtensionAfterLastDot("/opt/q/quarlex2007", ".ini"), "/opt/q/quarlex2007.ini");
  EXPECT_EQ(replaceExtensionAfterLastDot("/opt/q/conv.exe", ".ini"), "/opt/q/conv.ini");
  EXPECT_EQ(replaceExtensionAfterLastDot("/opt/q.d/conv", ".ini"), "/opt/q.d/conv.ini");
  EXPECT_EQ(replaceExtensionAfterLastDot("/data/shop.mdb", "ini"), "/data/shop.ini");
  EXPECT_EQ(replaceExtensionAfterLastDot("/data/shop", "ini"), "/data/shopini");
  EXPECT_EQ(folderOf("/a/b/c.mdb"), "/a/b/");
  EXPECT_EQ(folderOf("c.mdb"), "");
  EXPECT_EQ(fileNameOf("/a/b/c.mdb"), "c.mdb");
}
