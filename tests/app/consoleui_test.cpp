#include "app/consoleui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quorbit {

namespace {

using Kind = StatusUpdate::Kind;

StatusUpdate Update(Kind kind, std::string_view text, int number = 0) {
  return StatusUpdate{kind, number, std::string(text)};
}

// A console writing into two temporary files.
class ConsoleTest : public ::testing::Test {
 protected:
  ~ConsoleTest() override {
    std::fclose(out);
    std::fclose(err);
  }
  static std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
  }
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
};

TEST_F(ConsoleTest, PlainOutputHasLinesOnlyAndNoControlCharacters) {
  ConsoleView view({.out = out, .err = err}, false);
  const std::string longLine = "Downloaded " + std::string(300, 'n');
  view.Apply({Update(Kind::kLine, "Connecting", 1), Update(Kind::kLine, "Connecting", 1),
              Update(Kind::kPercent, "", 50), Update(Kind::kByteCount, "Received 9 bytes"),
              Update(Kind::kMemoLine, "evil\x1b[2Jtext\r"), Update(Kind::kLine, "", 1),
              Update(Kind::kLine, "Connecting", 1), Update(Kind::kMemoLine, longLine)});
  view.Apply({Update(Kind::kError, "unable to open INI file")});
  // A memo line is printed whole, however long (a cron mail has no width).
  EXPECT_EQ(Contents(out), "Connecting\nevil [2Jtext \nConnecting\n" + longLine + "\n");
  EXPECT_EQ(Contents(err), "quorbit: unable to open INI file\n");
}

TEST_F(ConsoleTest, TerminalKeepsAFooterBelowScrollingLines) {
  ConsoleView view({.out = out, .err = err}, true);
  view.Apply({Update(Kind::kLine, std::string(200, 'a'), 1), Update(Kind::kPercent, "", 50)});
  std::string first = Contents(out);
  // Three status rows and the bar, none reaching the last column (80 on a
  // file), so that no row wraps.
  EXPECT_EQ(first, std::string(79, 'a') + "\n\n\n[" + std::string(20, '#') + std::string(20, ' ') +
                       "]  50%\n");

  view.Apply({Update(Kind::kMemoLine, "log line"), Update(Kind::kByteCount, "Received 7 bytes")});
  std::string second = Contents(out).substr(first.size());
  EXPECT_EQ(second,
            "\x1b[4A\r\x1b[Jlog line\n" + std::string(79, 'a') + "\n\n\nReceived 7 bytes\n");
}

}  // namespace

}  // namespace quorbit
