// The HTML token rules: they cut a page into tokens so that every character
// belongs to exactly one token, and pick out double-quoted SRC, HREF and
// BACKGROUND values and whole BASE tags. Everything else comes out one
// character at a time, so a page can be written back token by token.
//
//   Lexer lexer(HtmlLexTables());
//   lexer.input.Open(page);
//   while (int kind = Lex(lexer)) { ... lexer.yytext ... }
#pragma once

#include "html/lexer.h"

namespace quorbit {

enum HtmlTokenKind : int {
  EndOfInput = 0,
  SrcLink = 2,         // SRC, white space, "=", white space, "value"
  HrefLink = 3,        // the same for HREF
  BackgroundAttr = 4,  // the same for BACKGROUND
  BaseTag = 5,         // "<BASE" up to and including the next ">"
  PlainText = 255,     // one character; a line end comes out as CR LF
};

const LexTables& HtmlLexTables();

}  // namespace quorbit
