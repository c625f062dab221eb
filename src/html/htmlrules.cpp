#include "html/htmlrules.h"

#include <array>
#include <cstdint>

namespace quorbit {

// The rules, in priority order (letters match in either case; white space is
// space, TAB or line feed; "any" never includes NUL but does include line
// feeds, so quoted values and BASE tags may span lines):
//   1  "<" BASE, one or more characters other than ">", ">"   -> BaseTag
//   2  SRC, white space, "=", white space, '"', any but '"', '"' -> SrcLink
//   3  HREF, then as rule 2                                     -> HrefLink
//   4  BACKGROUND, then as rule 2                               -> BackgroundAttr
//   5  a line feed, returned as CR LF                           -> PlainText
//   6  any single character other than line feed                -> PlainText
// Attribute names are found anywhere, even inside words; single-quoted and
// unquoted values are not recognised. When a longer pattern fails part-way
// the longest complete match (a single character) is taken and scanning goes
// on at the next character.

namespace {

constexpr int kLineFeedRule = 5;
constexpr int kOtherCharacterRule = 6;  // its action keeps the text, so a row can be one token

constexpr LexCharSet Letter(char upper) {
  LexCharSet set;
  set.Add(upper);
  set.Add(static_cast<char>(upper - 'A' + 'a'));
  return set;
}

constexpr LexCharSet kWhite = LexCharsOf(" \t\n");
constexpr LexCharSet kEquals = LexCharsOf("=");
constexpr LexCharSet kQuote = LexCharsOf("\"");
constexpr LexCharSet kInQuotes = LexAnyBut("\"");
constexpr LexCharSet kInTag = LexAnyBut(">");

// Per state: the rule it accepts (0 = none) and how many transitions follow
// in the transition list.
struct StateRow {
  std::uint16_t acceptedRule;
  std::uint16_t transitionCount;
};

constexpr std::array<StateRow, 37> kRows = {{
    {0, 6}, {0, 6},                  // 0, 1: token start
    {6, 1}, {6, 1}, {6, 1}, {6, 1},  // 2 "<", 3 S, 4 H, 5 B
    {5, 0}, {6, 0},                  // 6 line feed, 7 other character
    {0, 1}, {0, 1}, {0, 1}, {0, 1},  // 8 <B, 9 SR, 10 HR, 11 BA
    {0, 1}, {0, 2}, {0, 1}, {0, 1},  // 12 <BA, 13 SRC, 14 HRE, 15 BAC
    {0, 1}, {0, 2}, {0, 2}, {0, 1},  // 16 <BAS, 17 SRC=, 18 HREF, 19 BACK
    {0, 1}, {0, 2}, {0, 2}, {0, 1},  // 20 <BASE, 21 SRC="..., 22 HREF=, 23 BACKG
    {0, 2}, {2, 0}, {0, 2}, {0, 1},  // 24 <BASE..., 25 SRC link, 26 HREF="..., 27 BACKGR
    {1, 0}, {3, 0}, {0, 1}, {0, 1},  // 28 BASE tag, 29 HREF link, 30 BACKGRO, 31 BACKGROU
    {0, 1}, {0, 2}, {0, 2}, {0, 2},  // 32 BACKGROUN, 33 BACKGROUND, 34 BACKGROUND=, 35 ="...
    {4, 0},                          // 36 BACKGROUND link
}};

// clang-format off
constexpr std::array<LexTransition, 51> kTransitions = {{
    // 0 and 1
    {LexCharsOf("\n"), 6}, {LexCharsOf("<"), 2}, {Letter('B'), 5}, {Letter('H'), 4},
    {Letter('S'), 3}, {LexAnyBut("\n<BbHhSs"), 7},
    {LexCharsOf("\n"), 6}, {LexCharsOf("<"), 2}, {Letter('B'), 5}, {Letter('H'), 4},
    {Letter('S'), 3}, {LexAnyBut("\n<BbHhSs"), 7},
    // 2 to 5
    {Letter('B'), 8}, {Letter('R'), 9}, {Letter('R'), 10}, {Letter('A'), 11},
    // 8 to 12
    {Letter('A'), 12}, {Letter('C'), 13}, {Letter('E'), 14}, {Letter('C'), 15}, {Letter('S'), 16},
    // 13 to 20
    {kWhite, 13}, {kEquals, 17},
    {Letter('F'), 18},
    {Letter('K'), 19},
    {Letter('E'), 20},
    {kWhite, 17}, {kQuote, 21},
    {kWhite, 18}, {kEquals, 22},
    {Letter('G'), 23},
    {kInTag, 24},
    // 21 to 24
    {kInQuotes, 21}, {kQuote, 25},
    {kWhite, 22}, {kQuote, 26},
    {Letter('R'), 27},
    {kInTag, 24}, {LexCharsOf(">"), 28},
    // 26, 27
    {kInQuotes, 26}, {kQuote, 29},
    {Letter('O'), 30},
    // 30 to 35
    {Letter('U'), 31},
    {Letter('N'), 32},
    {Letter('D'), 33},
    {kWhite, 33}, {kEquals, 34},
    {kWhite, 34}, {kQuote, 35},
    {kInQuotes, 35}, {kQuote, 36},
}};
// clang-format on

constexpr std::size_t CountAccepting() {
  std::size_t n = 0;
  for (const StateRow& row : kRows) n += row.acceptedRule != 0;
  return n;
}

// Every accepting state accepts one rule, so the mark list and the match list
// are the same list of accepted rules, in state order.
constexpr std::array<std::uint16_t, CountAccepting()> BuildRuleList() {
  std::array<std::uint16_t, CountAccepting()> rules{};
  std::size_t n = 0;
  for (const StateRow& row : kRows)
    if (row.acceptedRule != 0) rules[n++] = row.acceptedRule;
  return rules;
}

constexpr std::array<LexState, kRows.size()> BuildStates() {
  std::array<LexState, kRows.size()> states{};
  std::uint16_t rule = 0;
  std::uint16_t transition = 0;
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    auto ruleEnd = static_cast<std::uint16_t>(rule + (kRows[i].acceptedRule != 0));
    auto transitionEnd = static_cast<std::uint16_t>(transition + kRows[i].transitionCount);
    states[i] = LexState{{rule, ruleEnd}, {rule, ruleEnd}, {transition, transitionEnd}};
    rule = ruleEnd;
    transition = transitionEnd;
  }
  return states;
}

constexpr std::size_t CountTransitions() {
  std::size_t n = 0;
  for (const StateRow& row : kRows) n += row.transitionCount;
  return n;
}

constexpr auto kRules = BuildRuleList();
constexpr auto kStates = BuildStates();
static_assert(CountTransitions() == kTransitions.size());
static_assert(kRules.size() == 10);

void HtmlAction(Lexer& lexer, int rule) {
  static constexpr int kKindOfRule[] = {EndOfInput,     BaseTag,   SrcLink,  HrefLink,
                                        BackgroundAttr, PlainText, PlainText};
  if (rule == kLineFeedRule) lexer.yytext = "\r\n";
  ReturnKind(lexer, kKindOfRule[rule]);
}

constexpr LexTables kHtmlTables{
    kStates, kRules, kRules, kTransitions, HtmlAction, PlainText, kOtherCharacterRule};

}  // namespace

const LexTables& HtmlLexTables() {
  return kHtmlTables;
}

}  // namespace quorbit
