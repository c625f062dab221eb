// The lexer runtime on small hand-made tables, independent of the HTML rules.
#include "html/lexer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "html/scan_helpers.h"
#include "peers/fake_status_sink.h"

namespace quorbit {

namespace {

constexpr int kUnmatched = 99;

// Each rule returns a token of ten times its number.
void KindPerRule(Lexer& lexer, int rule) {
  ReturnKind(lexer, rule * 10);
}

constexpr LexState State(std::uint16_t rule0, std::uint16_t rule1, std::uint16_t tr0,
                         std::uint16_t tr1) {
  return LexState{{rule0, rule1}, {rule0, rule1}, {tr0, tr1}};
}

// A toy language: rule 1 "if", 2 [a-z]+, 3 "<>", 4 "<", 5 "<-->",
// 6 "#" at a line start only, 7 a line feed.
constexpr LexCharSet kLower = LexCharsOf("abcdefghijklmnopqrstuvwxyz");
constexpr std::array<std::uint16_t, 9> kToyRules = {2, 2, 1, 2, 4, 3, 5, 6, 7};
// clang-format off
constexpr std::array<LexTransition, 17> kToyTransitions = {{
    {LexCharsOf("i"), 2}, {kLower, 3}, {LexCharsOf("<"), 5}, {LexCharsOf("\n"), 11},
    {LexCharsOf("#"), 10}, {LexCharsOf("i"), 2}, {kLower, 3}, {LexCharsOf("<"), 5},
    {LexCharsOf("\n"), 11}, {LexCharsOf("f"), 4}, {kLower, 3}, {kLower, 3}, {kLower, 3},
    {LexCharsOf(">"), 6}, {LexCharsOf("-"), 7}, {LexCharsOf("-"), 8}, {LexCharsOf(">"), 9},
}};
// clang-format on
constexpr std::array<LexState, 12> kToyStates = {
    State(0, 0, 0, 4),   State(0, 0, 4, 9),   State(0, 1, 9, 11),  State(1, 2, 11, 12),
    State(2, 4, 12, 13), State(4, 5, 13, 15), State(5, 6, 15, 15), State(6, 6, 15, 16),
    State(6, 6, 16, 17), State(6, 7, 17, 17), State(7, 8, 17, 17), State(8, 9, 17, 17),
};
constexpr LexTables kToy{kToyStates,      kToyRules,   kToyRules,
                         kToyTransitions, KindPerRule, kUnmatched};

TEST(Lex, LongestMatchRuleOrderGiveBackAndLineStarts) {
  testing::internal::CaptureStdout();
  // Equal lengths go to the first rule; a failed longer candidate gives back
  // what it read; "#" counts only at a line start; unmatched characters come
  // out as tokens of their own and nothing is written to standard output.
  EXPECT_EQ(Show(ScanText("if iff <> <-->", kToy), kUnmatched), "10[if] 20[iff] 30[<>] 50[<-->]");
  EXPECT_EQ(Show(ScanText("<--x<-", kToy)), "40[<] 99[-] 99[-] 20[x] 40[<] 99[-]");
  EXPECT_EQ(Show(ScanText("#if#\n#a\n ##", kToy)),
            "60[#] 10[if] 99[#] 70[\n] 60[#] 20[a] 70[\n] 99[ ] 99[#] 99[#]");
  EXPECT_TRUE(ScanText("", kToy).empty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Tables that break the runtime's limits on every "a": a rule number too
// high, or five matches pushed per character.
constexpr std::array<std::uint16_t, 1> kRuleTooHigh = {300};
constexpr std::array<std::uint16_t, 5> kFiveMatches = {1, 1, 1, 1, 1};
constexpr std::array<LexTransition, 1> kOnlyA = {{{LexCharsOf("a"), 2}}};
constexpr std::array<LexState, 3> kLoopOnA = {State(0, 0, 0, 1), State(0, 0, 0, 1),
                                              State(0, 1, 0, 1)};
constexpr std::array<LexState, 3> kLoopOnAFiveMatches = {State(0, 0, 0, 1), State(0, 0, 0, 1),
                                                         LexState{{0, 1}, {0, 5}, {0, 1}}};
constexpr LexTables kTooManyRules{kLoopOnA, kRuleTooHigh, kRuleTooHigh,
                                  kOnlyA,   KindPerRule,  kUnmatched};
constexpr LexTables kStackOverflow{kLoopOnAFiveMatches, kFiveMatches, kFiveMatches, kOnlyA,
                                   KindPerRule,         kUnmatched};

TEST(Lex, LimitsCutTheCandidateAreShownOnceAndLoseNothing) {
  struct Case {
    const LexTables& tables;
    std::string text;
    std::vector<std::size_t> lengths;
    std::string message;
  };
  const std::vector<Case> cases = {
      {kToy, std::string(600, 'a'), {255, 255, 90}, "LexLib: yytext overflow"},
      {kTooManyRules, "aa", {1, 1}, "LexLib: too many rules"},
      // 204 characters fill 1020 entries; the 205th state overflows.
      {kStackOverflow, std::string(300, 'a'), {205, 95}, "LexLib: match stack overflow"},
  };
  for (const Case& c : cases) {
    InstalledFakeSink memo;
    std::vector<Token> tokens = ScanText(c.text, c.tables);
    std::vector<std::size_t> lengths;
    for (const Token& t : tokens) lengths.push_back(t.text.size());
    EXPECT_EQ(lengths, c.lengths) << c.message;
    EXPECT_EQ(Join(tokens), c.text);
    EXPECT_EQ(memo.Memo(), std::vector<std::string>{c.message});
  }
}

TEST(Lex, AReadErrorEndsTheInputAndIsShown) {
#ifdef _WIN32
  GTEST_SKIP() << "a directory never opens as a file on Windows";
#endif
  InstalledFakeSink memo;
  TempDir dir;
  Lexer lexer(kToy);
  ASSERT_TRUE(lexer.input.Open(dir.Path()));  // a directory opens but cannot be read
  EXPECT_EQ(Lex(lexer), 0);
  EXPECT_TRUE(lexer.input.failed);
  EXPECT_EQ(memo.Memo(), std::vector<std::string>{"LexLib: input read error"});
}

}  // namespace

}  // namespace quorbit
