#include "html/linkscanner.h"

#include <cstring>
#include <string>

#include "html/htmlrules.h"
#include "report/runlog.h"
#include "util/fileattributes.h"
#include "util/filesystem.h"
#include "util/localpaths.h"
#include "util/localsearch.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// The page's file name up to its first "." (so "a.b.html" gives "a"),
// plus ".tmp".
std::string CopyBaseName(std::string_view pageName) {
  std::string_view name = pageName.substr(pageName.rfind(kPathSep) + 1);
  return Cat(name.substr(0, name.find('.')), ".tmp");
}

// The copy is written back a token at a time; its text is collected in a
// buffer of this size while the copy is open and written when the buffer is
// full, so that a page costs a few writes instead of one per token.
constexpr std::size_t kCopyBufferSize = std::size_t{64} * 1024;

// Last characters tried in turn when the name ending in "tmp" is taken.
constexpr std::string_view kCopyEndings = "0123456789abcdefghijklmnopqrstuvwxyz";

// The first of the 37 candidate names beside the page, from the base name
// on, that no entry has yet (a link counts, even one that leads nowhere);
// empty when all are taken.
std::string FreeCopyName(std::string_view pageName, std::string name) {
  const std::string_view directory = pageName.substr(0, pageName.rfind(kPathSep) + 1);
  for (char ending : kCopyEndings) {
    if (FileAttributesOf(Cat(directory, name)) == 0) return name;
    name.back() = ending;
  }
  return FileAttributesOf(Cat(directory, name)) == 0 ? name : std::string();
}

}  // namespace

LinkScanner::LinkScanner() : lexer_(HtmlLexTables()) {}

bool LinkScanner::OpenPage(std::string_view fileName) {
  pageName_ = fileName;
  ClearLexer(lexer_);
  aheadWaiting_ = false;
  copyUsable_ = true;
  return lexer_.input.Open(fileName);
}

bool LinkScanner::ClosePage() {
  return lexer_.input.Close();
}

// The lexer's next token, left in its yytext; plain text comes in rows of up
// to runMax characters.
bool LinkScanner::LexToken(std::uint16_t& kind, std::size_t runMax) {
  const int next = Lex(lexer_, runMax);
  // A page that could not be read to its end must not be replaced by the
  // part of it that was read.
  if (lexer_.input.failed) copyUsable_ = false;
  if (next == EndOfInput) return false;
  kind = static_cast<std::uint16_t>(next);
  return true;
}

bool LinkScanner::NextToken(std::uint16_t& kind, std::string& text) {
  if (aheadWaiting_) {
    aheadWaiting_ = false;
    kind = aheadKind_;
    text.assign(aheadText_);
  } else if (LexToken(kind, kTokenTextMax)) {
    text.assign(lexer_.yytext);
  } else {
    return false;
  }
  if (kind != PlainText) return true;
  // Gather the plain text that follows. The token that ends the run (or no
  // longer fits) is kept for the next call.
  std::uint16_t nextKind = 0;
  while (text.size() < kTokenTextMax && LexToken(nextKind, kTokenTextMax - text.size())) {
    const std::string& next = lexer_.yytext;
    if (nextKind != PlainText || text.size() + next.size() > kTokenTextMax) {
      aheadWaiting_ = true;
      aheadKind_ = nextKind;
      aheadText_.assign(next);
      break;
    }
    text += next;
  }
  return true;
}

bool LinkScanner::BeginRewrite(std::string_view directory) {
  const std::string copyName = FreeCopyName(pageName_, CopyBaseName(pageName_));
  if (copyName.empty()) return false;
  copy_.emplace(PartFile::Named{.target = pageName_, .root = directory, .partName = copyName});
  rewriting_ = copy_->Create();
  if (!copy_->Refusal().empty()) RunLog::ShowAndWriteFailure(copy_->Refusal(), copy_->Refusal());
  if (rewriting_) {
    pending_ = std::make_unique_for_overwrite<char[]>(kCopyBufferSize);
    pendingLength_ = 0;
  }
  return rewriting_;
}

void LinkScanner::WriteText(std::string_view text) {
  if (!rewriting_) return;
  if (text.size() > kCopyBufferSize - pendingLength_) {
    FlushCopy();
    if (text.size() > kCopyBufferSize) {
      WriteToCopy(text);
      return;
    }
  }
  std::memcpy(pending_.get() + pendingLength_, text.data(), text.size());
  pendingLength_ += text.size();
}

// Writes the text to the open copy at once; an error makes the copy
// unusable.
void LinkScanner::WriteToCopy(std::string_view text) {
  if (!copy_->Write(text.data(), text.size())) copyUsable_ = false;
}

void LinkScanner::FlushCopy() {
  if (pendingLength_ == 0) return;
  WriteToCopy(std::string_view(pending_.get(), pendingLength_));
  pendingLength_ = 0;
}

// True when the scan stopped at the end of the file's data, not earlier at a
// Ctrl-Z (which ends the lexer's input) or a read error.
bool LinkScanner::WholePageRead() {
  if (!lexer_.input.IsOpen()) return false;
  const std::int64_t size = OpenFileSize(lexer_.input.handle);
  return size >= 0 && TextPosition(lexer_.input) >= size;
}

bool LinkScanner::EndRewrite() {
  if (!rewriting_) return false;
  rewriting_ = false;
  FlushCopy();
  const bool complete = copyUsable_ && !lexer_.input.failed && WholePageRead();
  lexer_.input.Close();
  const PackedDateTime stamp = complete ? GetFileDate(pageName_) : 0;
  // The commit replaces the page in one step, so there is no moment without
  // it. An incomplete copy, or one that cannot take the page's place, is
  // removed and the page stays as stored.
  const bool replaced = complete && copy_->Commit();
  copy_.reset();
  if (replaced && stamp != 0) SetFileDate(pageName_, stamp);
  return replaced;
}

}  // namespace quorbit
