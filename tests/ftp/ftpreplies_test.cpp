// Reading replies without a server: lines into replies, replies matched to
// the commands that are owed them, reply codes and passive ports.
#include "ftp/ftpreplies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorbit {

namespace {

TEST(ReplyAssemblerTest, LinesMakeRepliesByTheirCodes) {
  using Step = ReplyAssembler::Step;
  const struct {
    std::vector<std::string> lines;
    std::vector<Step> steps;
    std::int32_t code;
  } rows[] = {
      {{"200 ok"}, {Step::Complete}, 200},
      {{"200"}, {Step::Complete}, 200},
      {{"211-Features", " UTF8", "211-not yet", "212 other", "211"},
       {Step::Continues, Step::Continues, Step::Continues, Step::Continues, Step::Complete},
       211},
      {{"", "hello", "2000 four digits", "20", "220 ready"},
       {Step::PassedOver, Step::PassedOver, Step::PassedOver, Step::PassedOver, Step::Complete},
       220},
      {{"230-", "", "230 done"}, {Step::Continues, Step::Continues, Step::Complete}, 230},
  };
  for (const auto& row : rows) {
    ReplyAssembler assembler;
    std::vector<Step> steps;
    for (const std::string& line : row.lines) steps.push_back(assembler.Take(line));
    EXPECT_EQ(steps, row.steps) << row.lines.front();
    EXPECT_EQ(assembler.Code(), row.code);
    EXPECT_FALSE(assembler.InReply());
  }
}

TEST(ReplyCodeTest, FirstThreeCharactersAsNumber) {
  EXPECT_EQ(ReplyCode("220 Service ready"), 220);
  EXPECT_EQ(ReplyCode("230-Welcome"), 230);
  EXPECT_EQ(ReplyCode("22"), 22);
  EXPECT_EQ(ReplyCode("5"), 5);
  EXPECT_EQ(ReplyCode(""), -1);
  EXPECT_EQ(ReplyCode("Hello"), -1);
  EXPECT_EQ(ReplyCode("2x0 odd"), -1);
  EXPECT_EQ(ReplyCode(" 220"), -1);
}

TEST(PassiveReplyTest, ExtendedReplyGivesThePortOrNothing) {
  const struct {
    const char* reply;
    int port;  // -1: refused
  } rows[] = {
      {"229 Entering Extended Passive Mode (|||6446|)", 6446},
      {"229 (!!!65535!)", 65535},
      {"229 Extended (###1#). Thanks", 1},
      {"229 (|||0|)", -1},
      {"229 (|||65536|)", -1},
      {"229 (|||123456|)", -1},
      {"229 (||||)", -1},
      {"229 (|||12a|)", -1},
      {"229 (||6446|)", -1},
      {"229 (|||6446!)", -1},
      {"229 (111611)", -1},  // a digit cannot delimit
      {"229 (   6446 )", -1},
      {"229 |||6446|", -1},
      {"229 (|||6446|", -1},
      {"", -1},
  };
  for (const auto& row : rows) {
    std::uint16_t port = 7;
    EXPECT_EQ(ParseExtendedPassiveReply(row.reply, port), row.port >= 0) << row.reply;
    EXPECT_EQ(port, row.port >= 0 ? row.port : 7) << row.reply;
  }
}

TEST(QuotedDirectoryTest, TheTextBetweenTheFirstQuoteAndTheNextOneThatIsNotDoubled) {
  const struct {
    const char* reply;
    const char* directory;
  } rows[] = {
      {"257 \"/pub/in\" is current", "/pub/in"},
      {"257 \"/with blanks/ünï\"", "/with blanks/ünï"},
      {"257 \"/open", "/open"},
      {"257 \"\"", ""},
      {"257 \"/a\"\"b\" created", "/a\"b"},
      {"257 \"\"\"\"\"\" is current", "\"\""},
      {"257 \"/end\"\"\"", "/end\""},
      {"257 no quotes", "257 no quotes"},
  };
  for (const auto& row : rows) EXPECT_EQ(QuotedDirectory(row.reply), row.directory) << row.reply;
}

TEST(PassiveReplyTest, SixFieldsGiveAddressAndPort) {
  PassiveAddress a = ParsePassiveReply("227 Entering Passive Mode (10,0,0,5,4,1)");
  EXPECT_EQ(a.address, (IpAddress{10, 0, 0, 5}));
  EXPECT_EQ(a.port, 1025);

  a = ParsePassiveReply("227 Entering Passive Mode (192,168,1,2,19,137).");
  EXPECT_EQ(a.address, (IpAddress{192, 168, 1, 2}));
  EXPECT_EQ(a.port, 5001);

  // Values above 255 keep their low byte; spaces before a number are skipped.
  a = ParsePassiveReply("227 (300, 1, 2, 3, 300,1)");
  EXPECT_EQ(a.address, (IpAddress{44, 1, 2, 3}));
  EXPECT_EQ(a.port, 44 * 256 + 1);
}

// Each row sends commands (after the greeting every conversation owes) and
// feeds lines, then says which replies answered which command, and which of
// them end the wait for their command.
TEST(ExpectedRepliesTest, EachReplyAnswersTheOldestCommandOwed) {
  struct Answered {
    std::int32_t code;
    std::string command;
    bool endsWait;
    bool operator==(const Answered&) const = default;
  };
  const struct {
    const char* what;
    std::vector<std::string> commands;
    std::vector<std::string> lines;
    std::vector<Answered> answers;
  } rows[] = {
      {"greeting, then a command",
       {"USER"},
       {"220 hi", "331 pass"},
       {{220, "", true}, {331, "USER", true}}},
      {"a data command's preliminary reply ends its wait once",
       {"RETR"},
       {"220 hi", "150 opening", "150 again", "226 done"},
       {{220, "", true}, {150, "RETR", true}, {150, "RETR", false}, {226, "RETR", true}}},
      {"a preliminary reply to another command does not end its wait",
       {"CWD"},
       {"220 hi", "120 soon", "250 ok"},
       {{220, "", true}, {120, "CWD", false}, {250, "CWD", true}}},
      {"replies out of turn answer nothing",
       {},
       {"220 hi", "421 going away", "200 extra"},
       {{220, "", true}}},
      {"a multi-line reply answers once",
       {"FEAT"},
       {"220-a", "220 b", "211-Features", " UTF8", "211 End"},
       {{220, "", true}, {211, "FEAT", true}}},
  };
  for (const auto& row : rows) {
    ExpectedReplies expected;
    for (const std::string& command : row.commands) expected.Owe(command);
    std::vector<Answered> answers;
    for (const std::string& line : row.lines) {
      const ExpectedReplies::Taken taken = expected.Take(line);
      if (taken.answer.code < 0) continue;
      answers.push_back(
          {taken.answer.code, taken.answer.to.command, EndsCommandWait(taken.answer)});
    }
    EXPECT_EQ(answers, row.answers) << row.what;
    EXPECT_FALSE(expected.AnyOwed()) << row.what;
  }
}

TEST(ExpectedRepliesTest, WaitsAreForTheLastCommandOfTheirKeyword) {
  ExpectedReplies expected;
  const std::uint64_t greeting = expected.SerialFor("");
  expected.Owe("CWD");
  expected.Owe("PWD");
  expected.Owe("CWD");
  EXPECT_EQ(expected.SerialFor(""), greeting);
  EXPECT_EQ(expected.SerialFor("CWD"), greeting + 3);
  EXPECT_EQ(expected.SerialFor("PWD"), greeting + 2);
  EXPECT_EQ(expected.SerialFor("LIST"), 0U);
  EXPECT_EQ(expected.OldestCommand(), "");
  expected.Take("220 hi");
  EXPECT_EQ(expected.OldestCommand(), "CWD");
  expected.StartConversation();
  EXPECT_EQ(expected.OldestCommand(), "");
  EXPECT_GT(expected.SerialFor(""), greeting + 3);
}

}  // namespace

}  // namespace quorbit
