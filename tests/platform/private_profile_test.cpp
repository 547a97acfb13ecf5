#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/private_profile.h"
#include "tests/support/test_support.h"

using testsupport::readFileBytes;
using testsupport::ScratchDir;
using testsupport::writeFileBytes;

TEST(PrivateProfile, ReadsWithoutRegardToCaseAndBlanks) {
  ScratchDir dir;
  std::string f = (dir / "a.ini").string();
  writeFileBytes(f, "\xEF\xBB\xBF[Fields]\r\n  Price  =  Unit price  \r\nQuoted=\"  padded \"\r\n; Price=comment\r\n"
                    "Eq=a=b\r\nPrice=second\r\n[fields]\r\nOnly=in second section\r\n");
  EXPECT_EQ(readProfileString("FIELDS", "price", "", f), "Unit price");
  EXPECT_EQ(readProfileString("fields", "QUOTED", "", f), "  padded ");
  EXPECT_EQ(readProfileString("Fields", "Eq", "", f), "a=b");
  EXPECT_EQ(readProfileString("Fields", "Only", "dflt", f), "dflt");  // the first section counts
  EXPECT_EQ(readProfileString("Fields", "Missing", "dflt", f), "dflt");
  EXPECT_EQ(readProfileString("Nope", "Price", "dflt", f), "dflt");
  EXPECT_FALSE(readProfileValue("Fields", "Missing", f));
  EXPECT_FALSE(readProfileValue("Fields", "Price", (dir / "absent.ini").string()));
}

TEST(PrivateProfile, IntegersAreTheLeadingNumber) {
  ScratchDir dir;
  std::string f = (dir / "a.ini").string();
  writeFileBytes(f, "[Common]\nA=12abc\nB=abc\nC=-4\nD=\n");
  EXPECT_EQ(readProfileInt("common", "A", 7, f), 12);
  EXPECT_EQ(readProfileInt("common", "B", 7, f), 7);
  EXPECT_EQ(readProfileInt("common", "C", 7, f), -4);
  EXPECT_EQ(readProfileInt("common", "D", 7, f), 7);
  EXPECT_EQ(readProfileInt("common", "E", 7, f), 7);
}

TEST(PrivateProfile, WriteReplacesInPlaceAndKeepsEverythingElse) {
  ScratchDir dir;
  std::string f = (dir / "a.ini").string();
  writeFileBytes(f, "; comment\r\n[QUARLEX]\r\nresult = Welcome dialog\r\nOther=1\r\n\r\n[Tail]\r\nX=1");
  ASSERT_TRUE(writeProfileString("QUARLEX", "Result", "Successful", f));
  EXPECT_EQ(readFileBytes(f), "; comment\r\n[QUARLEX]\r\nresult=Successful\r\nOther=1\r\n\r\n[Tail]\r\nX=1");
  ASSERT_TRUE(writeProfileString("Tail", "Y", "2", f));
  EXPECT_EQ(readFileBytes(f), "; comment\r\n[QUARLEX]\r\nresult=Successful\r\nOther=1\r\n\r\n[Tail]\r\nX=1\r\nY=2\r\n");
  ASSERT_TRUE(writeProfileString("QUARLEX", "New", "v", f));
  EXPECT_EQ(readFileBytes(f),
            "; comment\r\n[QUARLEX]\r\nresult=Successful\r\nOther=1\r\nNew=v\r\n\r\n[Tail]\r\nX=1\r\nY=2\r\n");
}

TEST(PrivateProfile, WriteCreatesFileAndSection) {
  ScratchDir dir;
  std::string f = (dir / "status.log").string();
  ASSERT_TRUE(writeProfileString("QUARLEX", "Result", "Conversion In Progress", f));
  EXPECT_EQ(readFileBytes(f), "[QUARLEX]\nResult=Conversion In Progress\n");
  ASSERT_TRUE(writeProfileString("QUARLEX", "Result", "Failed", f));
  EXPECT_EQ(readFileBytes(f), "[QUARLEX]\nResult=Failed\n");
  EXPECT_EQ(readProfileString("quarlex", "result", "", f), "Failed");
}

TEST(PrivateProfile, WriteRefusesLineBreaksAndMissingFolders) {
  ScratchDir dir;
  std::string f = (dir / "a.ini").string();
  EXPECT_FALSE(writeProfileString("S", "K", "two\nlines", f));
  EXPECT_FALSE(writeProfileString("S", "K=", "v", f));
  EXPECT_FALSE(std::filesystem::exists(f));
  EXPECT_FALSE(writeProfileString("S", "K", "v", (dir / "no" / "such" / "a.ini").string()));
}

TEST(PrivateProfile, WriteThroughASymlinkKeepsTheLinkAndTheMode) {
  ScratchDir dir;
  std::string real = (dir / "real.ini").string();
  std::string link = (dir / "link.ini").string();
  writeFileBytes(real, "[S]\nK=1\n");
  chmod(real.c_str(), 0600);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(writeProfileString("S", "K", "2", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(readFileBytes(real), "[S]\nK=2\n");
  struct stat st {};
  stat(real.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary left
}

TEST(PrivateProfile, BinaryGarbageReadsAsMissingWithoutHarm) {
  ScratchDir dir;
  std::string f = (dir / "junk.ini").string();
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk.push_back(static_cast<char>((i * 131 + 7) % 256));
  junk += "\n[[\n]]=\n[\n=\n";
  writeFileBytes(f, junk);
  EXPECT_EQ(readProfileString("S", "K", "d", f), "d");
  ASSERT_TRUE(writeProfileString("S", "K", "v", f));
  EXPECT_EQ(readProfileString("S", "K", "d", f), "v");
  EXPECT_EQ(readFileBytes(f).substr(0, junk.size()), junk);  // the old bytes are kept
}

TEST(PrivateProfile, ConcurrentWritersNeverLeaveATornFile) {
  ScratchDir dir;
  std::string f = (dir / "status.log").string();
  ASSERT_TRUE(writeProfileString("QUARLEX", "Result", "start", f));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      std::string text = readFileBytes(f);
      if (text.rfind("[QUARLEX]\n", 0) != 0 || text.back() != '\n') ++torn;
    }
  });
  auto writer = [&](const char* key) {
    for (int i = 0; i < 150; ++i) writeProfileString("QUARLEX", key, std::string(200, 'v') + std::to_string(i), f);
  };
  std::thread a(writer, "Result");
  std::thread b(writer, "Other");
  a.join();
  b.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(readProfileString("QUARLEX", "Result", "", f), std::string(200, 'v') + "149");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}
