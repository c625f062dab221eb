#include "html/lexer.h"

#include <algorithm>

#include "report/runlog.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// The push-back buffer only holds text from the current token's start to the
// end of the last piece loaded. That piece went into an empty buffer while
// the token had at most a yytext of characters, so the buffer never holds
// more than a yytext, a piece with its line feed and the end-of-input NUL,
// and needs no overflow check.
static_assert(kLexPushBackMax >= kTextPieceMax + 1 + kLexYytextMax + 1);

char LastChar(std::string_view text) {
  return text.empty() ? '\0' : text.back();
}

void ReportLimit(Lexer& lexer, std::string_view message) {
  if (lexer.limitReported) return;
  lexer.limitReported = true;
  RunLog::Show(Cat("LexLib: ", message));
}

bool PushBackEmpty(const Lexer& lexer) {
  return lexer.pushNext == kLexPushBackMax;
}

void PushBack(Lexer& lexer, char c) {
  lexer.pushBack[--lexer.pushNext] = c;
}

// Puts the next piece of the input into the emptied push-back buffer,
// followed by a line feed when the piece ended at a line end. A line longer
// than a piece simply continues in the next piece.
void LoadPiece(Lexer& lexer) {
  if (TextEof(lexer.input)) {
    // The rest of the page is lost to the scan: a failure, in the run log too.
    if (lexer.input.failed)
      RunLog::ShowAndWriteFailure("LexLib: input read error", "LexLib: input read error");
    return;
  }
  std::string& piece = lexer.piece;
  if (ReadPiece(lexer.input, piece)) PushBack(lexer, '\n');
  lexer.pushNext -= piece.size();
  std::copy(piece.begin(), piece.end(),
            lexer.pushBack.begin() + static_cast<std::ptrdiff_t>(lexer.pushNext));
}

// The next input character, NUL at the end of the input.
char ReadInput(Lexer& lexer) {
  if (PushBackEmpty(lexer)) LoadPiece(lexer);
  return PushBackEmpty(lexer) ? '\0' : lexer.pushBack[lexer.pushNext++];
}

// Pushes back the characters of yytext after the first n.
void GiveBack(Lexer& lexer, std::size_t n) {
  for (std::size_t i = lexer.yytext.size(); i > n; --i) PushBack(lexer, lexer.yytext[i - 1]);
  lexer.yytext.resize(n);
}

void StartToken(Lexer& lexer) {
  if (lexer.lastChar != '\0') lexer.lineStart = lexer.lastChar == '\n' ? 1 : 0;
  lexer.yytext.clear();
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
    lexer.matchPos[t.marks[i]] = static_cast<Lexer::MatchPosition>(lexer.yytext.size());
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
    if (lexer.yytext.size() == kLexYytextMax) {
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

// The first step from the start state with the character c. The token of c
// alone is known from it when c leads from that state (which has no rules of
// its own) to a state whose one rule it marks and matches; when characters
// lead on from there, the next character decides.
Lexer::FirstStep FirstStepOf(const LexTables& t, const LexState& start, char c) {
  if (start.marks.first != start.marks.last || start.matches.first != start.matches.last) return {};
  const int target = TransitionTarget(t, start, c);
  if (target < 0) return {};
  const LexState& end = t.states[target];
  if (end.matches.last - end.matches.first != 1 || end.marks.last - end.marks.first != 1) return {};
  const std::uint16_t rule = t.matches[end.matches.first];
  if (rule > kLexRuleMax || t.marks[end.marks.first] != rule) return {};
  Lexer::FirstStep step{rule, {}};
  for (std::size_t i = end.transitions.first; i < end.transitions.last; ++i)
    step.leadOn.Add(t.transitions[i].chars);
  return step;
}

// Whether the character pushBack[i], having taken the step, is a token alone
// as far as the characters after it tell: nothing leads on from the state
// reached, or the next character, loaded already, does not.
bool EndsAlone(const Lexer& lexer, const Lexer::FirstStep& step, std::size_t i) {
  if (i + 1 < kLexPushBackMax) return !step.leadOn.Has(lexer.pushBack[i + 1]);
  return step.leadOn.Empty();
}

// The rule of the token that the character pushBack[i] alone makes when a
// token with the line-start state lineStart starts there; 0 when the
// automaton has to be walked to know.
std::uint16_t SingleCharacterRule(const Lexer& lexer, std::size_t i, int lineStart) {
  const Lexer::FirstStep& step =
      lexer.firstSteps[lineStart][static_cast<unsigned char>(lexer.pushBack[i])];
  return step.rule != 0 && EndsAlone(lexer, step, i) ? step.rule : 0;
}

// A character after which the next token starts with the line-start state 0,
// whatever came before.
bool InLine(char c) {
  return c != '\n' && c != '\0';
}

// The end of the row of tokens of the run rule that goes on the one-character
// token at pushBack[first], at most runMax long. Its characters are InLine,
// so that each after the first starts with the line-start state 0.
std::size_t RowEnd(const Lexer& lexer, std::size_t first, std::size_t runMax) {
  std::size_t end = first + 1;
  if (!InLine(lexer.pushBack[first])) return end;
  const std::size_t stop =
      first + std::min(std::clamp<std::size_t>(runMax, 1, kLexYytextMax), kLexPushBackMax - first);
  for (; end < stop; ++end) {
    const auto c = static_cast<unsigned char>(lexer.pushBack[end]);
    const Lexer::RowStep step = lexer.rowSteps[c];
    if (step == Lexer::RowStep::GoesOn) continue;
    if (step == Lexer::RowStep::Ends || !EndsAlone(lexer, lexer.firstSteps[0][c], end)) break;
  }
  return end;
}

// Most tokens are one character; those are taken here by table, with the
// result the walk of the automaton would give (yytext, last character, the
// rule, nothing left recorded). A row of such tokens of the run rule is
// taken as one (see RowEnd). 0 when the walk is needed, or the input is not
// loaded yet.
int TakeSingleCharacters(Lexer& lexer, std::size_t runMax) {
  const std::size_t first = lexer.pushNext;
  if (PushBackEmpty(lexer)) return 0;
  const std::uint16_t rule = SingleCharacterRule(lexer, first, lexer.lineStart);
  if (rule == 0) return 0;
  const std::size_t end = rule == lexer.tables.runRule ? RowEnd(lexer, first, runMax) : first + 1;
  lexer.yytext = std::string_view(lexer.pushBack.data() + first, end - first);
  lexer.pushNext = end;
  lexer.lastChar = LastChar(lexer.yytext);
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
    lexer.lastChar = LastChar(lexer.yytext);
    return rule;
  }
  return 0;
}

}  // namespace

Lexer::Lexer(const LexTables& lexTables) : tables(lexTables) {
  // Room for the longest texts up front, so that scanning never allocates.
  yytext.reserve(kLexYytextMax);
  piece.reserve(kTextPieceMax);
  for (std::size_t start = 0; start < firstSteps.size(); ++start) {
    for (int c = 0; c < 256; ++c) {
      firstSteps[start][static_cast<std::size_t>(c)] =
          FirstStepOf(tables, tables.states[start], static_cast<char>(c));
    }
  }
  for (int c = 0; c < 256; ++c) {
    const FirstStep& step = firstSteps[0][static_cast<std::size_t>(c)];
    RowStep rowStep = RowStep::Ends;
    if (tables.runRule != 0 && step.rule == tables.runRule && InLine(static_cast<char>(c)))
      rowStep = step.leadOn.Empty() ? RowStep::GoesOn : RowStep::NextDecides;
    rowSteps[static_cast<std::size_t>(c)] = rowStep;
  }
  ClearLexer(*this);
}

void ClearLexer(Lexer& lexer) {
  lexer.pushNext = kLexPushBackMax;
  lexer.lineStart = 1;
  lexer.lastChar = '\0';
  lexer.yytext.clear();
  lexer.matchCount = 0;
  lexer.matchPos.fill(0);
  lexer.limitReported = false;
}

int Lex(Lexer& lexer, std::size_t runMax) {
  lexer.done = false;
  while (!lexer.done) {
    StartToken(lexer);
    int rule = TakeSingleCharacters(lexer, runMax);
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
    lexer.yytext.assign(1, c);
    return lexer.tables.unmatchedKind;
  }
  return lexer.result;
}

void ReturnKind(Lexer& lexer, int kind) {
  lexer.result = kind;
  lexer.done = true;
}

}  // namespace quorbit
