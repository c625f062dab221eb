#include "util/fileattributes.h"

#include <gtest/gtest.h>

#include <ctime>

#include "util/filesystem.h"
#include "util/filetestsupport.h"
#include "util/packeddate.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

TEST_F(DosFiles, DatesRoundTripInLocalTime) {
  EXPECT_EQ(GetFileDate(Path("missing")), 0u);
  EXPECT_EQ(GetFileDate(root_), 0u);
  EXPECT_FALSE(SetFileDate(Path("missing"), 1));
  EXPECT_EQ(PackLocalTime(0), 0u);  // 1970 lies before the first packed year

  Write("dated.txt");
  DateTimeParts parts;
  parts.year = 2024, parts.month = 3, parts.day = 15;
  parts.hour = 13, parts.minute = 45, parts.second = 31;
  const PackedDateTime date = PackDateTime(parts);
  ASSERT_TRUE(SetFileDate(Path("dated.txt"), date));
  EXPECT_EQ(GetFileDate(Path("dated.txt")), date);

  EntryStatus status;
  ASSERT_EQ(StatPath(Path("dated.txt"), true, status), 0);
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(status.modified, local));
  EXPECT_EQ(local.tm_hour, 13);
  EXPECT_EQ(local.tm_sec, 30);
}

}  // namespace

}  // namespace quorbit
