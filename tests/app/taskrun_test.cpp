#include "app/taskrun.h"

#include <gtest/gtest.h>

#include "report/transfercounts.h"

namespace quorbit {

namespace {

TEST(FormatDuration, WritesHoursMinutesSecondsWithTwoDigitsEach) {
  EXPECT_EQ(FormatDuration(0), "00:00:00");
  EXPECT_EQ(FormatDuration(3725), "01:02:05");
  EXPECT_EQ(FormatDuration(3599), "00:59:59");
  EXPECT_EQ(FormatDuration(3600), "01:00:00");
  EXPECT_EQ(FormatDuration(86399), "23:59:59");
  EXPECT_EQ(FormatDuration(90061), "25:01:01");  // a run longer than a day
}

TEST(ExitStatus, TellsWhetherAnythingWasReceivedAndSent) {
  ClearTransferCounts();
  EXPECT_EQ(ExitStatus(), 0);
  CountFtpDownloaded();
  EXPECT_EQ(ExitStatus(), 1);
  CountFtpUploaded();
  EXPECT_EQ(ExitStatus(), 3);
  ClearTransferCounts();
  CountHttpFetched();
  EXPECT_EQ(ExitStatus(), 1);
  ClearTransferCounts();
  CountFtpUploaded();
  EXPECT_EQ(ExitStatus(), 2);
  ClearTransferCounts();
}

TEST(TransferCounts, CountersWrapButTheOutcomeStillTellsWhatMoved) {
  ClearTransferCounts();
  TransferCounts.HttpFetched = 65535;
  CountHttpFetched();
  EXPECT_EQ(TransferCounts.HttpFetched, 0);
  EXPECT_EQ(ExitStatus(), 1);
  ClearTransferCounts();
}

}  // namespace

}  // namespace quorbit
