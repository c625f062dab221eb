#include "html/linkscanner.h"

#include <cstdio>
#include <cstring>

#include "html/htmlrules.h"
#include "util/filesystem.h"

namespace {

// The page's file name up to its first "." (so "a.b.html" gives "a"),
// plus ".tmp".
Str255 CopyBaseName(std::string_view pageName) {
  std::string_view name = pageName.substr(pageName.rfind(kPathSep) + 1);
  return Cat(name.substr(0, name.find('.')), ".tmp");
}

// The copy is written back a token at a time; its text is collected in a
// buffer of this size while the copy is open and written when the buffer is
// full, so that a page costs a few writes instead of one per token.
constexpr std::size_t kCopyBufferSize = std::size_t{64} * 1024;

// Last characters tried in turn when the name ending in "tmp" is taken.
constexpr std::string_view kCopyEndings = "0123456789abcdefghijklmnopqrstuvwxyz";

// The first of the 37 candidate names in directory that no file has yet;
// empty when all of them exist.
Str255 FreeCopyName(std::string_view directory, const Str255& baseName) {
  Str255 path = Cat(directory, baseName);
  for (char ending : kCopyEndings) {
    if (!FileExists(path)) return path;
    path[path.Length() - 1] = ending;
  }
  return FileExists(path) ? Str255() : path;
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

// The lexer's next token, left in its yytext.
bool LinkScanner::LexToken(std::uint16_t& kind) {
  const int next = Lex(lexer_);
  // A page that could not be read to its end must not be replaced by the
  // part of it that was read.
  if (lexer_.input.failed) copyUsable_ = false;
  if (next == EndOfInput) return false;
  kind = static_cast<std::uint16_t>(next);
  return true;
}

bool LinkScanner::NextToken(std::uint16_t& kind, ShortStrRef text) {
  if (aheadWaiting_) {
    aheadWaiting_ = false;
    kind = aheadKind_;
    text.Assign(aheadText_);
  } else if (LexToken(kind)) {
    text.Assign(lexer_.yytext.View());
  } else {
    return false;
  }
  if (kind != PlainText) return true;
  // Gather the plain text that follows. The token that ends the run (or no
  // longer fits) is kept for the next call.
  std::uint16_t nextKind = 0;
  while (*text.len < text.max && LexToken(nextKind)) {
    const std::string_view next = lexer_.yytext.View();
    if (nextKind != PlainText || *text.len + next.size() > text.max) {
      aheadWaiting_ = true;
      aheadKind_ = nextKind;
      aheadText_ = next;
      break;
    }
    std::memcpy(text.text + *text.len, next.data(), next.size());
    *text.len = static_cast<std::uint8_t>(*text.len + next.size());
  }
  return true;
}

bool LinkScanner::BeginRewrite(std::string_view directory) {
  copyName_ = FreeCopyName(directory, CopyBaseName(pageName_));
  if (copyName_.Empty()) return false;
  copy_.emplace(copyName_);
  rewriting_ = copy_->OpenMode("wb") == 0;
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
  std::FILE* file = copy_->Handle();
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
    copyUsable_ = false;
  }
}

void LinkScanner::FlushCopy() {
  if (pendingLength_ == 0) return;
  WriteToCopy(std::string_view(pending_.get(), pendingLength_));
  pendingLength_ = 0;
}

// Writes what is collected and closes the copy, checking both.
void LinkScanner::CloseCopy() {
  FlushCopy();
  if (!copy_->Close()) copyUsable_ = false;
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
  CloseCopy();
  const bool complete = copyUsable_ && !lexer_.input.failed && WholePageRead();
  lexer_.input.Close();
  if (!complete) {
    std::remove(copyName_.Str().c_str());
    return false;
  }
  const PackedDateTime stamp = GetFileDate(pageName_);
  // rename replaces the page in one step, so there is no moment without it.
  // When it fails the page stays as stored and the copy stays beside it.
  if (!RenameReplacing(copyName_, pageName_)) return false;
  if (stamp != 0) SetFileDate(pageName_, stamp);
  return true;
}
