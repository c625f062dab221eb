// Shared helpers of the lexer tests: running a lexer over a text and showing
// tokens compactly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "html/htmlrules.h"
#include "html/lexer.h"
#include "peers/peers.h"

namespace quorbit {

struct Token {
  int kind;
  std::string text;
  bool operator==(const Token&) const = default;
};

// Every token of an open lexer up to the end of its input.
inline std::vector<Token> ScanRest(Lexer& lexer) {
  std::vector<Token> tokens;
  while (int kind = Lex(lexer)) tokens.push_back({kind, lexer.yytext});
  return tokens;
}

inline std::vector<Token> ScanText(std::string_view text,
                                   const LexTables& tables = HtmlLexTables()) {
  TempDir dir;
  WriteFile(dir / "page.html", text);
  Lexer lexer(tables);
  if (!lexer.input.Open(dir / "page.html")) return {};
  return ScanRest(lexer);
}

inline std::string Join(const std::vector<Token>& tokens) {
  std::string all;
  for (const Token& t : tokens) all += t.text;
  return all;
}

// "kind[text] kind[text]" of the tokens whose kind is not skipKind.
inline std::string Show(const std::vector<Token>& tokens, int skipKind = -1) {
  std::string shown;
  for (const Token& t : tokens)
    if (t.kind != skipKind)
      shown += (shown.empty() ? "" : " ") + std::to_string(t.kind) + "[" + t.text + "]";
  return shown;
}

}  // namespace quorbit
