// Runtime of a table-driven lexer: input pieces with a push-back buffer, the
// token text yytext, and the scan that walks the automaton tables with
// longest-match semantics (among matches of equal length the rule listed
// first wins) and runs the rule actions. Nothing here knows about HTML.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "html/textreader.h"

namespace quorbit {

// A set of the 256 byte values, usable in constant tables.
struct LexCharSet {
  std::array<std::uint64_t, 4> words{};

  constexpr void Add(char c) {
    auto u = static_cast<unsigned char>(c);
    words[u >> 6] |= std::uint64_t{1} << (u & 63);
  }
  constexpr void Add(const LexCharSet& other) {
    for (std::size_t i = 0; i < words.size(); ++i) words[i] |= other.words[i];
  }
  constexpr bool Has(char c) const {
    auto u = static_cast<unsigned char>(c);
    return (words[u >> 6] >> (u & 63)) & 1u;
  }
  constexpr bool Empty() const { return (words[0] | words[1] | words[2] | words[3]) == 0; }
};

// The characters given.
constexpr LexCharSet LexCharsOf(std::string_view chars) {
  LexCharSet set;
  for (char c : chars) set.Add(c);
  return set;
}

// Every character except NUL (the end-of-input marker) and those given.
constexpr LexCharSet LexAnyBut(std::string_view chars) {
  LexCharSet set;
  for (int c = 1; c < 256; ++c) set.Add(static_cast<char>(c));
  for (char c : chars) {
    auto u = static_cast<unsigned char>(c);
    set.words[u >> 6] &= ~(std::uint64_t{1} << (u & 63));
  }
  return set;
}

struct LexTransition {
  LexCharSet chars;
  std::uint16_t target;
};

// Entries [first, last) of one of the table lists.
struct LexRange {
  std::uint16_t first;
  std::uint16_t last;
};

// One automaton state: the rules whose match position is recorded here, the
// rules matched here (in priority order) and the transitions, tried in order.
struct LexState {
  LexRange marks;
  LexRange matches;
  LexRange transitions;
};

struct Lexer;
// Runs the action of a rule; ReturnKind ends the scan with a token.
using LexAction = void (*)(Lexer& lexer, int rule);

struct LexTables {
  std::span<const LexState> states;  // states 0 and 1 start a token (1 at a line start)
  std::span<const std::uint16_t> marks;
  std::span<const std::uint16_t> matches;
  std::span<const LexTransition> transitions;
  LexAction action;
  int unmatchedKind;  // kind of a single character that no rule matches
  // A rule whose action keeps yytext as it is, so that a row of one-character
  // tokens of it may come as one token (see Lex); 0 when there is none.
  int runRule = 0;
};

// The longest token text. It bounds what one candidate may take in: a quote
// never closed would otherwise have the lexer read to the end of the page
// and scan all of it again from the next character. A token that would grow
// past it ends there (see Lex), so a longer link or BASE tag is passed on as
// plain text.
constexpr std::size_t kLexYytextMax = 255;
constexpr std::size_t kLexRuleMax = 256;
constexpr std::size_t kLexMatchStackMax = 1024;
constexpr std::size_t kLexPushBackMax = 2048;

struct Lexer {
  explicit Lexer(const LexTables& lexTables);
  Lexer(const Lexer&) = delete;
  Lexer& operator=(const Lexer&) = delete;

  const LexTables& tables;
  TextReader input;    // the text being scanned; its owner opens and closes it
  std::string yytext;  // text of the current token, at most kLexYytextMax long
  std::string piece;   // the piece of input last read (kept for its storage)

  int result = 0;
  bool done = false;
  char lastChar = '\0';  // last character of the previous token, NUL when none
  int lineStart = 1;     // 1 at the beginning and after a line feed
  bool limitReported = false;
  std::size_t matchCount = 0;
  std::array<std::uint16_t, kLexMatchStackMax> matchStack{};
  // yytext length per rule, 0 = none; the type holds every length up to kLexYytextMax.
  using MatchPosition = std::uint16_t;
  static_assert(kLexYytextMax <= std::numeric_limits<MatchPosition>::max());
  std::array<MatchPosition, kLexRuleMax + 1> matchPos{};
  // The characters still to be taken are pushBack[pushNext, kLexPushBackMax)
  // in reading order: pieces go in at the end, given-back text in front.
  std::size_t pushNext = kLexPushBackMax;
  std::array<char, kLexPushBackMax> pushBack{};
  // Per start state (0, 1) and character: the first step of the automaton.
  // Made from the tables once, like rowSteps.
  struct FirstStep {
    std::uint16_t rule = 0;  // of the token of the character alone, 0 when the walk is needed
    LexCharSet leadOn;       // the characters that lead on from the state reached
  };
  std::array<std::array<FirstStep, 256>, 2> firstSteps{};
  // Per character after another of a row of tokens of the run rule: whether
  // it goes on the row.
  enum class RowStep : std::uint8_t { Ends, GoesOn, NextDecides };
  std::array<RowStep, 256> rowSteps{};
};

// Forgets the input taken so far and starts again as at the beginning of a
// text (the input file itself is left alone).
void ClearLexer(Lexer& lexer);

// Scans one token and returns its kind, 0 at the end of the input; yytext
// holds its text. With runMax above 1, a row of up to runMax one-character
// tokens of the tables' runRule comes as one token (the row stops at the end
// of the input loaded so far). A token that would outgrow yytext, or another
// limit of the tables, ends the candidate there: the longest match found so
// far is taken and the rest of the text is scanned again, so no text is lost.
// The first such event of a text is shown as an on-screen line "LexLib: "
// plus the limit's message. A read error ends the input (input.failed tells).
int Lex(Lexer& lexer, std::size_t runMax = 1);

// For rule actions: ends the scan with a token of this kind.
void ReturnKind(Lexer& lexer, int kind);

}  // namespace quorbit
