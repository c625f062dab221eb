#include "app/updatequeue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace quorbit {

namespace {

using Kind = StatusUpdate::Kind;
using namespace std::chrono_literals;

TEST(UpdateQueue, DeliversUpdatesInOrderAndWakesOncePerBatch) {
  int wakes = 0;
  UpdateQueue queue(false, [&] { ++wakes; });
  queue.SetLine(2, "line");
  // A memo line longer than any fixed width arrives whole (a long path).
  const std::string longLine = "memo " + std::string(300, 'x');
  queue.AddMemoLine(longLine);
  queue.ShowPercent(40);
  queue.ShowByteCount("Received 5 bytes");
  EXPECT_EQ(wakes, 1);
  std::vector<StatusUpdate> batch = queue.TakeAll();
  ASSERT_EQ(batch.size(), 4u);
  EXPECT_EQ(batch[0].kind, Kind::kLine);
  EXPECT_EQ(batch[0].number, 2);
  EXPECT_EQ(batch[0].text, "line");
  EXPECT_EQ(batch[1].text, longLine);
  EXPECT_EQ(batch[2].number, 40);
  EXPECT_EQ(batch[3].text, "Received 5 bytes");
  EXPECT_TRUE(queue.TakeAll().empty());
  queue.HidePercent();
  EXPECT_EQ(wakes, 2);
}

TEST(UpdateQueue, ErrorWaitsForDismissalWhenAsked) {
  UpdateQueue queue(true);
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    queue.ShowError("boom");
    returned = true;
  });
  std::vector<StatusUpdate> batch;
  for (int i = 0; i < 2000 && batch.empty(); ++i) {  // up to 10 s on a busy machine
    std::this_thread::sleep_for(5ms);
    batch = queue.TakeAll();
  }
  ASSERT_EQ(batch.size(), 1u);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned);
  queue.ErrorDismissed();
  worker.join();
  EXPECT_TRUE(returned);
}

}  // namespace

}  // namespace quorbit
