#include <gtest/gtest.h>

#include <map>

#include "job/progress.h"
#include "options/conversion_options.h"
#include "platform/owner_window.h"
#include "platform/private_profile.h"
#include "tests/support/test_support.h"

namespace {
// Records what a job shows, as the progress page would.
struct RecordingWindow : OwnerWindow {
  std::map<int, std::string> texts;
  int textWrites = 0;
  void showMessage(const std::string&, const std::string&, MessageIcon) override {}
  void setControlText(int id, const std::string& text) override {
    texts[id] = text;
    ++textWrites;
  }
  void setProgressRange(int, int32_t, int32_t) override {}
  void setProgressStep(int, int32_t) override {}
  void stepProgress(int) override {}
  void repaint() override {}
};
}  // namespace

TEST(ShowTimes, FirstTextAfterTwoSecondsAndAtMostOncePerSecond) {
  resetShowTimesForTesting();
  RecordingWindow w;
  ShowTimes(&w, 100, 101, 1, 10);
  EXPECT_EQ(w.textWrites, 0);  // one second elapsed
  ShowTimes(&w, 100, 102, 1, 10);
  EXPECT_EQ(w.texts[kTimeTextControl], "Elapsed time:\t00:00:02\nEstimated time:\t00:00:20");
  ShowTimes(&w, 50, 102, 5, 10);  // the same second, even for another table
  EXPECT_EQ(w.textWrites, 1);
}

TEST(ShowTimes, NoRecordsDoneIsNotRemembered) {
  resetShowTimesForTesting();
  RecordingWindow w;
  ShowTimes(&w, 0, 500, 0, 10);
  EXPECT_EQ(w.textWrites, 0);
  ShowTimes(&w, 0, 500, 1, 10);  // 500 was not taken by the call with no records done
  EXPECT_EQ(w.textWrites, 1);
  ShowTimes(&w, 0, 501, 3, 3);
  EXPECT_EQ(w.texts[kTimeTextControl], "Elapsed time:\t00:08:21\nEstimated time:\t00:08:21");
}

TEST(ShowTimes, HugeValuesNeitherOverflowNorCrash) {
  resetShowTimesForTesting();
  RecordingWindow w;
  ShowTimes(&w, 0, 360000, 1, 2147483647);
  EXPECT_EQ(w.texts[kTimeTextControl].substr(0, 22), "Elapsed time:\t100:00:0");
  ShowTimes(nullptr, 0, 360001, 1, 10);  // no window: nothing to set, nothing breaks
  EXPECT_EQ(formatTimes(3725, 0), "Elapsed time:\t01:02:05\nEstimated time:\t00:00:00");
}

TEST(StatusFile, StagesReplaceEachOther) {
  testsupport::ScratchDir dir;
  ConversionOptions o;
  writeStatus(&o, kStatusFailed);  // no status file: nothing is touched
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  o.statusFile = (dir / "status.log").string();
  writeStatus(&o, kStatusInProgress);
  writeStatus(&o, kStatusSuccessful);
  EXPECT_EQ(testsupport::readFileBytes(o.statusFile), "[QUARLEX]\nResult=Successful\n");
}
