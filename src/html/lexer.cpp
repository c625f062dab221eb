#include "html/lexer.h"

#include <algorithm>

#include "report/runlog.h"

namespace {

// The push-back buffer only holds text from the current token's start to the
// end of the last piece loaded. That piece went into an empty buffer while
// the token had at most a yytext of characters, so the buffer never holds
// more than a yytext, a piece with its line feed and the end-of-input NUL,
// and needs no overflow check.
static_assert(kLexPushBackMax >= Str255::kMax + 1 + kLexYytextMax + 1);

void ReportLimit(Lexer& lexer, std::string_view message) {
  if (lexer.limitReported) return;
  lexer.limitReported = true;
  RunLog::Show(Cat("LexLib: ", message));
}

void PushBack(Lexer& lexer, char c) {
  lexer.pushBack[lexer.pushCount++] = c;
}

// Puts the next piece of the input into the push-back buffer, last character
// first, under a line feed when the piece ended at a line end. A line longer
// than a piece simply continues in the next piece.
void LoadPiece(Lexer& lexer) {
  if (TextEof(lexer.input)) {
    if (lexer.input.failed) RunLog::Show("LexLib: input read error");
    return;
  }
  Str255 piece;
  if (ReadPiece(lexer.input, piece)) PushBack(lexer, '\n');
  std::reverse_copy(piece.begin(), piece.end(), lexer.pushBack.begin() + lexer.pushCount);
  lexer.pushCount += piece.Length();
}

// The next input character, NUL at the end of the input.
char ReadInput(Lexer& lexer) {
  if (lexer.pushCount == 0) LoadPiece(lexer);
  return lexer.pushCount ? lexer.pushBack[--lexer.pushCount] : '\0';
}

// Pushes back the characters of yytext after the first n.
void GiveBack(Lexer& lexer, std::size_t n) {
  for (std::size_t i = lexer.yytext.Length(); i > n; --i) PushBack(lexer, lexer.yytext[i - 1]);
  lexer.yytext.SetLength(n);
}

void StartToken(Lexer& lexer) {
  if (lexer.lastChar != '\0') lexer.lineStart = lexer.lastChar == '\n' ? 1 : 0;
  lexer.yytext.Clear();
  lexer.matchCount = 0;
}

// Records the state's marks and pushes its matches, the first one on top;
// false when a limit of the tables stops the candidate here.
bool MarkAndPushMatches(Lexer& lexer, const LexState& state) {
  const LexTables& t = lexer.tables;
  for (std::size_t i = state.marks.first; i < state.marks.last; ++i) {
    if (t.marks[i] > kLexRuleMax) {
      ReportLimit(lexer, "too many rules");
      return false;
    }
    lexer.matchPos[t.marks[i]] = static_cast<std::uint8_t>(lexer.yytext.Length());
  }
  for (std::size_t i = state.matches.last; i > state.matches.first; --i) {
    std::uint16_t rule = t.matches[i - 1];
    if (rule > kLexRuleMax) {
      ReportLimit(lexer, "too many rules");
      return false;
    }
    if (lexer.matchCount == kLexMatchStackMax) {
      ReportLimit(lexer, "match stack overflow");
      return false;
    }
    lexer.matchStack[lexer.matchCount++] = rule;
  }
  return true;
}

int TransitionTarget(const LexTables& t, const LexState& state, char c) {
  for (std::size_t i = state.transitions.first; i < state.transitions.last; ++i)
    if (t.transitions[i].chars.Has(c)) return t.transitions[i].target;
  return -1;
}

// Walks the automaton as far as the input allows, recording every match.
void ScanCandidate(Lexer& lexer) {
  const LexTables& t = lexer.tables;
  const LexState* state = &t.states[lexer.lineStart];
  for (;;) {
    if (!MarkAndPushMatches(lexer, *state)) return;
    if (state->transitions.first == state->transitions.last) return;
    if (lexer.yytext.Length() == kLexYytextMax) {
      ReportLimit(lexer, "yytext overflow");
      return;
    }
    char c = ReadInput(lexer);
    lexer.yytext += c;
    int target = TransitionTarget(t, *state, c);
    if (target < 0) return;
    state = &t.states[target];
  }
}

// The rule of the token that the character c alone makes from the start
// state: c leads from that state (which has no rules of its own) to a state
// without transitions whose one rule it marks and matches. 0 when that is
// not so and the automaton has to be walked.
std::uint16_t SingleCharacterRule(const LexTables& t, const LexState& start, char c) {
  if (start.marks.first != start.marks.last || start.matches.first != start.matches.last) return 0;
  const int target = TransitionTarget(t, start, c);
  if (target < 0) return 0;
  const LexState& end = t.states[target];
  if (end.transitions.first != end.transitions.last || end.matches.last - end.matches.first != 1 ||
      end.marks.last - end.marks.first != 1) {
    return 0;
  }
  const std::uint16_t rule = t.matches[end.matches.first];
  return rule <= kLexRuleMax && t.marks[end.marks.first] == rule ? rule : 0;
}

// Most tokens are one character; those are taken here by table, with the
// result the walk of the automaton would give (yytext, last character, the
// rule, nothing left recorded). 0 when the walk is needed, or the input is
// not loaded yet.
int TakeSingleCharacter(Lexer& lexer) {
  if (lexer.pushCount == 0) return 0;
  const char c = lexer.pushBack[lexer.pushCount - 1];
  const std::uint16_t rule =
      lexer.singleCharacterRules[lexer.lineStart][static_cast<unsigned char>(c)];
  if (rule == 0) return 0;
  --lexer.pushCount;
  lexer.yytext = std::string_view(&c, 1);
  lexer.lastChar = c;
  lexer.matchPos[rule] = 0;
  return rule;
}

// Cuts yytext to the longest recorded match and returns its rule, 0 when
// nothing matched. The positions of the token's rules are forgotten so that
// they cannot count for the next token.
int TakeLongestMatch(Lexer& lexer) {
  while (lexer.matchCount > 0) {
    std::uint16_t rule = lexer.matchStack[--lexer.matchCount];
    std::size_t length = lexer.matchPos[rule];
    if (length == 0) continue;
    lexer.matchPos[rule] = 0;
    while (lexer.matchCount > 0) lexer.matchPos[lexer.matchStack[--lexer.matchCount]] = 0;
    GiveBack(lexer, length);
    lexer.lastChar = lexer.yytext.Last();
    return rule;
  }
  return 0;
}

}  // namespace

Lexer::Lexer(const LexTables& lexTables) : tables(lexTables) {
  for (std::size_t start = 0; start < singleCharacterRules.size(); ++start) {
    for (int c = 0; c < 256; ++c) {
      singleCharacterRules[start][static_cast<std::size_t>(c)] =
          SingleCharacterRule(tables, tables.states[start], static_cast<char>(c));
    }
  }
  ClearLexer(*this);
}

void ClearLexer(Lexer& lexer) {
  lexer.pushCount = 0;
  lexer.lineStart = 1;
  lexer.lastChar = '\0';
  lexer.yytext.Clear();
  lexer.matchCount = 0;
  lexer.matchPos.fill(0);
  lexer.limitReported = false;
}

int Lex(Lexer& lexer) {
  lexer.done = false;
  while (!lexer.done) {
    StartToken(lexer);
    int rule = TakeSingleCharacter(lexer);
    if (rule == 0) {
      ScanCandidate(lexer);
      rule = TakeLongestMatch(lexer);
    }
    if (rule != 0) {
      lexer.tables.action(lexer, rule);
      continue;
    }
    // No rule matches here: the character goes on as a token of its own, so
    // that nothing of the text is lost, and nothing is written anywhere.
    GiveBack(lexer, 0);
    char c = ReadInput(lexer);
    if (c == '\0') {
      ClearLexer(lexer);
      return 0;
    }
    lexer.lastChar = c;
    lexer.yytext = std::string_view(&c, 1);
    return lexer.tables.unmatchedKind;
  }
  return lexer.result;
}

void ReturnKind(Lexer& lexer, int kind) {
  lexer.result = kind;
  lexer.done = true;
}
