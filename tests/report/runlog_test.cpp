#include "report/runlog.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "peers/fake_status_sink.h"
#include "peers/peers.h"
#include "util/systemclock.h"

namespace quorbit {

namespace {

const std::string kDashes(60, '-');

// The stamp the log should carry at t: seconds rounded down to even.
std::string ExpectedStamp(std::time_t t) {
  std::tm parts{};
  ToLocalTime(t, parts);
  parts.tm_sec &= ~1;
  char text[32];
  std::strftime(text, sizeof text, "%d-%m-%y %H:%M:%S", &parts);
  return text;
}

TEST(LogStamp, IsDayMonthYearAndTimeWithEvenSeconds) {
  std::time_t before = std::time(nullptr);
  std::string stamp = LogStamp();
  std::time_t after = std::time(nullptr);
  ASSERT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << stamp;
  EXPECT_EQ((stamp[16] - '0') % 2, 0) << stamp;
  EXPECT_TRUE(stamp == ExpectedStamp(before) || stamp == ExpectedStamp(after)) << stamp;
}

using Texts = std::vector<std::string>;

class LogFileTest : public ::testing::Test {
 protected:
  // Starts the log afresh and opens it with a banner.
  bool Open(const std::string& banner = "B") {
    log.Init();
    return log.Open(path, banner);
  }

  TempDir dir;
  std::string path = dir / "run.log";
  LogFile log;
};

TEST_F(LogFileTest, OpeningAddsEmptyLineBannerAndDashesEachTime) {
  ASSERT_TRUE(Open("BANNER"));
  log.WriteLine("first run");
  log.WriteLine(std::string(250, 'x'));  // not cut after the stamp
  log.Done();
  ASSERT_TRUE(Open("BANNER"));
  log.WriteLine("second run");
  log.Done();
  log.WriteLine("after done");
  EXPECT_EQ(LogFileTexts(path), (Texts{"", "BANNER", kDashes, "first run", std::string(250, 'x'),
                                       "", "BANNER", kDashes, "second run"}));
}

TEST_F(LogFileTest, CreatesMissingDirectories) {
  path = dir / "logs/2026/run.log";
  ASSERT_TRUE(Open());
  log.WriteLine("in a new directory");
  EXPECT_EQ(LogFileTexts(path), (Texts{"", "B", kDashes, "in a new directory"}));
}

TEST_F(LogFileTest, DeletedFileComesBackWithTheNextLineWithoutBanner) {
  ASSERT_TRUE(Open());
  ASSERT_EQ(std::remove(path.c_str()), 0);
  log.WriteLine("after deletion");
  EXPECT_EQ(LogFileTexts(path), (Texts{"after deletion"}));
}

TEST_F(LogFileTest, UnopenableFileFailsAndDropsLines) {
  WriteFile(dir / "plain", "a file, not a directory");
  path = dir / "plain/run.log";
  EXPECT_FALSE(Open());
  log.WriteLine("dropped");
  EXPECT_FALSE(PathExists(path));
}

TEST_F(LogFileTest, LineIsLostWhenReopeningFailsAndTheNextOneTriesAgain) {
  ASSERT_TRUE(Open());
  // A directory in the file's place makes the reopening fail, also for root.
  ASSERT_EQ(std::remove(path.c_str()), 0);
  ASSERT_TRUE(std::filesystem::create_directory(path));
  log.WriteLine("lost");
  ASSERT_TRUE(std::filesystem::remove(path));
  log.WriteLine("kept");
  EXPECT_EQ(LogFileTexts(path), (Texts{"kept"}));
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override { SetStatusSink(&sink); }
  void TearDown() override {
    RunLog::Close();
    SetStatusSink(nullptr);
  }
  Texts RunLogTexts() {
    Texts texts = LogFileTexts(logPath);
    return Texts(texts.begin() + 3, texts.end());  // after the opening
  }

  TempDir dir;
  std::string logPath = dir / "run.log";
  FakeStatusSink sink;
};

TEST_F(StatusTest, RunLogChannelsAreSeparate) {
  RunLog::Open(logPath);
  RunLog::Write("to the file");
  RunLog::Show("to the memo");
  ShowError("to the error box");
  EXPECT_EQ(LogFileTexts(logPath), (Texts{"", "QUORBIT 1.10.007", kDashes, "to the file"}));
  EXPECT_EQ(sink.Memo(), (Texts{"to the memo"}));
  EXPECT_EQ(sink.TextsOf("error"), (Texts{"to the error box"}));
}

TEST_F(StatusTest, EmptyLogNameStopsWritingToThePreviousLog) {
  RunLog::Open(logPath);
  RunLog::Close();
  RunLog::Open("");
  RunLog::Write("nowhere");
  EXPECT_TRUE(RunLogTexts().empty());
}

TEST_F(StatusTest, SetLineShowsAndLogsByNumber) {
  RunLog::Open(logPath);
  StatusDisplay::SetLine(1, "one");
  StatusDisplay::SetLine(0, "log only");
  StatusDisplay::SetLine(4, "nothing at all");
  StatusDisplay::SetLine(3, "");
  EXPECT_EQ(sink.Display(), (Texts{"line1: one", "line3: "}));
  EXPECT_EQ(RunLogTexts(), (Texts{"one", "log only"}));
}

// Names and header values come from servers. Whatever bytes they hold, one
// call stays one stamped line, in the log files and on every screen channel
// alike: control characters are shown as \xHH, UTF-8 keeps its bytes.
TEST_F(StatusTest, ControlCharactersFromServersAreShownEscapedOnEveryChannel) {
  struct Row {
    std::string text;
    std::string shown;
  };
  const std::vector<Row> rows = {
      {"payroll.csv\n09-12-26 00:47:28  Downloading payroll.csv 1000 bytes",
       "payroll.csv\\x0A09-12-26 00:47:28  Downloading payroll.csv 1000 bytes"},
      {"Location: /a\r\nSet-Cookie: x", "Location: /a\\x0D\\x0ASet-Cookie: x"},
      {"\x1b[2J\x1b]0;owned\x07name", "\\x1B[2J\\x1B]0;owned\\x07name"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"tab\there\x7f", "tab\\x09here\\x7F"},
      {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt \xff",
       "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt \xff"},
      {"C:\\dir\\100% ok; \\x0A typed", "C:\\dir\\100% ok; \\x0A typed"},
  };
  const std::string debugPath = dir / "debug.log";
  LogFile debugLog;
  debugLog.Init();
  ASSERT_TRUE(debugLog.Open(debugPath, "TCP/IP debug log"));
  RunLog::Open(logPath);
  Texts shown;
  for (const Row& row : rows) {
    RunLog::ShowAndWrite(row.text, row.text);
    StatusDisplay::SetLine(2, row.text);
    ShowError(row.text);
    debugLog.WriteLine("R " + row.text);
    shown.push_back(row.shown);
  }
  Texts logged;
  Texts debugged = {"", "TCP/IP debug log", kDashes};
  for (const std::string& text : shown) {
    logged.insert(logged.end(), {text, text});  // the log line and the status line
    debugged.push_back("R " + text);
  }
  EXPECT_EQ(RunLogTexts(), logged);
  EXPECT_EQ(LogFileTexts(debugPath), debugged);
  EXPECT_EQ(sink.Memo(), shown);
  EXPECT_EQ(sink.TextsOf("line2"), shown);
  EXPECT_EQ(sink.TextsOf("error"), shown);
}

TEST_F(StatusTest, BarAndByteCounterShareTheirPlace) {
  StatusDisplay::ShowByteCount(1234);
  EXPECT_TRUE(sink.counterVisible);
  EXPECT_FALSE(sink.barVisible);
  EXPECT_EQ(sink.calls.back(), "bytes: Received 1234 bytes");

  StatusDisplay::ShowPercent(50);
  EXPECT_TRUE(sink.barVisible);
  EXPECT_FALSE(sink.counterVisible);
  EXPECT_EQ(sink.calls.back(), "percent: 50");

  StatusDisplay::HidePercent();
  EXPECT_FALSE(sink.barVisible);
  StatusDisplay::ShowByteCount(-1);
  EXPECT_EQ(sink.calls.back(), "bytes: Received -1 bytes");
  StatusDisplay::HideByteCount();
  EXPECT_FALSE(sink.counterVisible || sink.barVisible);
}

}  // namespace

}  // namespace quorbit
