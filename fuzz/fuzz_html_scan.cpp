// An HTML page as a server may send it, scanned for links and rewritten the
// way an assignment with TRANSLATE writes its copy: every SRC and HREF link
// is resolved against the page, and written back as its absolute address.
//
// Checked: the tokens hold the page's text, line ends aside; a link's head
// and tail stand in its token as written; a followable link never leads out
// of the assignment's directory; the rewritten page is exactly the text
// written, and a page that is not rewritten stays as it was.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "html/htmlrules.h"
#include "html/linkscanner.h"
#include "http/httpget.h"
#include "http/httptask.h"
#include "util/shorttext.h"

namespace quorbit {

namespace {

// The line ends the page reader knows (CR LF, LF CR, CR, LF and NUL) as one
// LF each, so that texts with different line ends compare.
std::string WithPlainLineEnds(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      const char partner = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == partner) ++i;
      plain += '\n';
    } else {
      plain += c == '\0' ? '\n' : c;
    }
  }
  return plain;
}

// The path with "." and ".." parts resolved as written, parts joined by "/".
std::string LexicalPath(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const std::size_t end = path.find('/');
    const std::string_view part = path.substr(0, end);
    path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  std::string joined;
  for (std::string_view part : parts) (joined += '/') += part;
  return joined + '/';
}

void CheckLinkToken(std::string_view token, const LinkToken& link) {
  FUZZ_CHECK(token.starts_with(link.head) && token.ends_with(link.tail));
  FUZZ_CHECK(link.head.size() + link.tail.size() <= token.size());
  const std::string_view between =
      token.substr(link.head.size(), token.size() - link.head.size() - link.tail.size());
  FUZZ_CHECK(between.find(link.link) != std::string_view::npos);
}

// Where a followed link would be stored: its directory within the root, and
// a file name that stays in that directory.
void CheckStaysInside(const ResolvedLink& resolved, const std::string& root) {
  if (!resolved.followable) return;
  FUZZ_CHECK(LexicalPath(resolved.location).starts_with(LexicalPath(root)));
  const std::string_view url = resolved.url;
  const std::string name = StoredFileName(url.substr(url.rfind('/') + 1), "/");
  FUZZ_CHECK(name.find('/') == std::string::npos && name != "." && name != "..");
}

// The directory holds the page alone: the copy never stays beside it.
void CheckOnlyPage(const std::string& directory) {
  DIR* dir = ::opendir(directory.c_str());
  FUZZ_CHECK(dir != nullptr);
  while (dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    FUZZ_CHECK(name == "." || name == ".." || name == "page.html");
  }
  ::closedir(dir);
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string root = ScratchDirectory() + "site/";
  static const std::string location = [] {
    ::mkdir(root.c_str(), 0700);
    ::mkdir((root + "a").c_str(), 0700);
    ::mkdir((root + "a/b").c_str(), 0700);
    return root + "a/b/";
  }();
  const std::string page = location + "page.html";
  const std::string_view text = AsText(data, size);
  WriteWholeFile(page, text);

  LinkScanner scanner;
  FUZZ_CHECK(scanner.OpenPage(page));
  FUZZ_CHECK(scanner.BeginRewrite(location));
  const PageContext context{"http://www.example.org", "/docs/", location, root};
  std::string tokens, written;
  std::uint16_t kind = 0;
  std::string token;
  while (scanner.NextToken(kind, token)) {
    FUZZ_CHECK(token.size() <= LinkScanner::kTokenTextMax);
    tokens += token;
    std::string out = token;
    if (kind == SrcLink || kind == HrefLink) {
      const LinkToken link = SplitLinkToken(token);
      CheckLinkToken(token, link);
      const ResolvedLink resolved = ResolveLink(link.link, context);
      CheckStaysInside(resolved, root);
      out = Cat(link.head, resolved.url, resolved.fragment, link.tail);
    } else if (kind == BaseTag) {
      out.clear();
    }
    scanner.WriteText(out);
    written += out;
  }
  const bool replaced = scanner.EndRewrite();
  scanner.ClosePage();

  const std::string plainPage = WithPlainLineEnds(text);
  const std::string plainTokens = WithPlainLineEnds(tokens);
  if (replaced) {
    FUZZ_CHECK(plainTokens == plainPage);
    FUZZ_CHECK(ReadWholeFile(page) == written);
  } else {
    // Only a Ctrl-Z ends the scan before the end of the page.
    FUZZ_CHECK(text.find('\x1a') != std::string_view::npos);
    FUZZ_CHECK(plainPage.starts_with(plainTokens));
    FUZZ_CHECK(ReadWholeFile(page) == text);
  }
  CheckOnlyPage(location);
  return 0;
}
