#include "util/stoprequest.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "util/partfiles.h"

namespace quorbit {

namespace {

// When a later signal ends the program at once: signals that arrive
// together are one request to stop.
TEST(StopRequest, OnlyASignalASecondAfterTheFirstEndsAtOnce) {
  struct Row {
    std::vector<std::int64_t> arrivals;  // milliseconds; the last one is judged
    bool endsAtOnce;
  };
  const std::vector<Row> rows = {
      {{5000}, false},              // the first asks for a stop only
      {{5000, 5000}, false},        // timeout(1): the program, then its group
      {{5000, 5999}, false},        // a double Ctrl-C
      {{5000, 5400, 5999}, false},  // the second second counts from the first
      {{5000, 6000}, true},         // an impatient user
      {{5000, 5200, 9000}, true},
      {{-20000, -19000}, true},  // whatever the clock's zero
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.arrivals));
    ClearStopRequest();
    bool endsAtOnce = false;
    for (std::int64_t at : row.arrivals) endsAtOnce = RequestStopBySignal(SIGTERM, at);
    EXPECT_EQ(endsAtOnce, row.endsAtOnce);
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(StopSignal(), SIGTERM);
  }
  ClearStopRequest();
}

std::vector<std::string> removed;
void RecordRemoval(const char* path) {
  removed.emplace_back(path);
}

// The part files an immediate end would remove: those being written now,
// and no other.
TEST(StopRequest, PartFilesBeingWrittenAreKnownUntilCommittedOrRemoved) {
  TempDir dir;
  const std::string kept = dir / "kept.txt";
  const std::string broken = dir / "broken.txt";
  auto partFiles = [] {
    removed.clear();
    RemovePartFilesInProgress(RecordRemoval);
    return removed;
  };
  {
    PartFile first(kept);
    ASSERT_TRUE(first.Create());
    EXPECT_EQ(partFiles(), std::vector<std::string>{first.Path()});
    {
      PartFile second(broken);
      ASSERT_TRUE(second.Create());
      EXPECT_EQ(partFiles(), (std::vector<std::string>{first.Path(), second.Path()}));
    }
    EXPECT_EQ(partFiles(), std::vector<std::string>{first.Path()});
    ASSERT_TRUE(first.Commit());
  }
  EXPECT_TRUE(partFiles().empty());
  EXPECT_EQ(ReadFile(kept), "");
  EXPECT_FALSE(PathExists(broken));
}

}  // namespace

}  // namespace quorbit
