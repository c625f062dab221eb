// The link scanner. It hands a stored HTML page to the HTTP
// assignment as a stream of tokens and, when links are to be rewritten,
// collects the text written back in a temporary file beside the page, which
// finally takes the page's place with the page's time stamp.
//
//   LinkScanner scanner;
//   if (scanner.OpenPage(page)) {
//     scanner.BeginRewrite(directory);          // only when rewriting
//     while (scanner.NextToken(kind, text)) scanner.WriteText(text);
//     scanner.EndRewrite();
//     scanner.ClosePage();
//   }
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "html/lexer.h"
#include "util/partfiles.h"

namespace quorbit {

class LinkScanner {
 public:
  LinkScanner();
  LinkScanner(const LinkScanner&) = delete;
  LinkScanner& operator=(const LinkScanner&) = delete;

  // Opens the stored page for reading; the scan starts at its beginning.
  bool OpenPage(std::string_view fileName);
  // True when the page was closed without error (or was not open).
  bool ClosePage();
  // The longest text of a token NextToken gives: no more than one token of
  // the lexer holds, so gathering plain text never makes a longer one.
  static constexpr std::size_t kTokenTextMax = kLexYytextMax;

  // The next token of the page (its kind and text); false at the end of the
  // page. A run of plain text comes as one token of up to kTokenTextMax
  // characters, so that callers handle it once rather than character by
  // character.
  bool NextToken(std::uint16_t& kind, std::string& text);

  // Creates the temporary copy beside the page, which lies inside directory
  // (ending with the separator): the page's name up to its first "." plus
  // ".tmp", or, when such entries exist, the first free one of the
  // extensions tm0..tm9, tma..tmz. The copy is made new, never through a
  // link. False when all are taken or the file cannot be created, and when
  // the page is one of the run's files or lies outside directory (with the
  // line that says so); then nothing is rewritten and the page stays as it
  // is.
  bool BeginRewrite(std::string_view directory);
  bool Rewriting() const { return rewriting_; }
  // Appends text to the copy; nothing happens without a copy. The text is
  // collected and written in large pieces, all of it before the copy is
  // closed.
  void WriteText(std::string_view text);
  // Closes both files and puts the copy in the page's place with the
  // page's time stamp. The copy is used only when the whole page was read
  // and everything written reached the file; otherwise it is removed and the
  // page stays as stored. True when the page was replaced.
  bool EndRewrite();

 private:
  bool LexToken(std::uint16_t& kind, std::size_t runMax);
  bool WholePageRead();
  void WriteToCopy(std::string_view text);
  void FlushCopy();

  Lexer lexer_;
  // A token read ahead while a run of plain text was gathered; it comes next.
  bool aheadWaiting_ = false;
  std::uint16_t aheadKind_ = 0;
  std::string aheadText_;
  std::string pageName_;
  std::optional<PartFile> copy_;
  std::unique_ptr<char[]> pending_;  // while the copy is open: text not yet written to it
  std::size_t pendingLength_ = 0;
  bool rewriting_ = false;
  bool copyUsable_ = true;  // no read or write error, nothing lost so far
};

}  // namespace quorbit
