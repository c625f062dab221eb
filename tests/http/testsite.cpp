#include "testsite.h"

#include <strings.h>
#include <sys/time.h>

#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "peers/peers.h"

namespace quorbit {

namespace fs = std::filesystem;

namespace {

void StampServed(const fs::path& path) {
  std::tm served{};
  served.tm_year = 2001 - 1900;
  served.tm_mon = 1;
  served.tm_mday = 3;
  served.tm_hour = 4;
  served.tm_min = 5;
  served.tm_sec = 6;
  const std::time_t when = timegm(&served);
  const timeval times[2] = {{when, 0}, {when, 0}};
  utimes(path.c_str(), times);
}

bool StartsWithNoCase(const std::string& text, std::size_t at, std::string_view word) {
  return text.size() - at >= word.size() &&
         strncasecmp(text.data() + at, word.data(), word.size()) == 0;
}

// Every "http://" and "https://" (in any case) pointed at
// "http://localhost/external/", so that no link leads off this machine.
std::string PointWebAddressesAtLocalhost(const std::string& html) {
  std::string out;
  out.reserve(html.size());
  for (std::size_t at = 0; at < html.size();) {
    if (StartsWithNoCase(html, at, "http://") || StartsWithNoCase(html, at, "https://")) {
      out += "http://localhost/external/";
      at += StartsWithNoCase(html, at, "http://") ? 7 : 8;
    } else {
      out += html[at++];
    }
  }
  return out;
}

bool IsPage(const fs::path& path) {
  return path.extension() == ".html" || path.extension() == ".htm";
}

// The file a relative link of the page names, relative to the page's tree;
// empty for anchors, addresses with a scheme, absolute paths, directories
// and links that climb out of the tree.
std::string LocalTarget(const std::string& page, std::string value) {
  value = value.substr(0, value.find('?'));
  value = value.substr(0, value.find('#'));
  const std::size_t colon = value.find(':');
  if (value.empty() || value.front() == '/' || value.back() == '/' ||
      (colon != std::string::npos && colon < value.find('/')))
    return "";
  const fs::path target = (fs::path(page).parent_path() / value).lexically_normal();
  if (target.empty() || *target.begin() == "..") return "";
  return target.string();
}

}  // namespace

PackedDateTime ServedDate() {
  return PackDateTime({2001, 2, 3, 4, 5, 6});
}

void AddSiteFile(const std::string& root, const std::string& path, std::string_view content) {
  const fs::path file = fs::path(root) / path;
  fs::create_directories(file.parent_path());
  WriteFile(file, content);
  StampServed(file);
}

bool CopyDocTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (!fs::is_directory(from)) return false;
  for (const auto& entry : fs::recursive_directory_iterator(from, ec)) {
    const fs::path target = fs::path(to) / entry.path().lexically_relative(from);
    if (entry.is_directory()) {
      fs::create_directories(target);
    } else if (entry.is_regular_file()) {
      fs::create_directories(target.parent_path());
      if (IsPage(entry.path())) {
        WriteFile(target, PointWebAddressesAtLocalhost(ReadFile(entry.path())));
      } else if (!fs::copy_file(entry.path(), target, ec)) {
        return false;
      }
      StampServed(target);
    }
  }
  return !ec;
}

std::set<std::string> StoredFiles(const std::string& dir) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), dir).string());
  }
  return files;
}

std::string TreeSnapshot(const std::string& root, const std::string& skip) {
  fs::path skipped = fs::path(skip).lexically_normal();
  if (!skipped.has_filename()) skipped = skipped.parent_path();
  std::map<std::string, std::string> lines;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path == skipped) {
      it.disable_recursion_pending();
      continue;
    }
    std::string line = it->is_directory() ? "dir" : it->is_regular_file() ? "file" : "other";
    if (it->is_regular_file()) {
      line += " " + std::to_string(it->file_size()) + " " +
              std::to_string(std::hash<std::string>()(ReadFile(path)));
    }
    line += " " + std::to_string(it->last_write_time().time_since_epoch().count());
    lines[fs::relative(path, root).string()] = line;
  }
  std::string snapshot;
  for (const auto& [path, line] : lines) snapshot += path + ": " + line + "\n";
  return snapshot;
}

std::vector<PageLink> PageLinks(const std::string& html) {
  constexpr const char* kWhite = " \t\r\n";
  std::vector<PageLink> links;
  for (std::size_t at = 0; at < html.size(); ++at) {
    const bool src = StartsWithNoCase(html, at, "src");
    if (!src && !StartsWithNoCase(html, at, "href")) continue;
    std::size_t quote = html.find_first_not_of(kWhite, at + (src ? 3 : 4));
    if (quote == std::string::npos || html[quote] != '=') continue;
    quote = html.find_first_not_of(kWhite, quote + 1);
    if (quote == std::string::npos || html[quote] != '"') continue;
    const std::size_t close = html.find('"', quote + 1);
    if (close == std::string::npos) continue;
    links.push_back({src, html.substr(quote + 1, close - quote - 1)});
    at = close;
  }
  return links;
}

std::set<std::string> ExpectedCrawl(const std::string& root, const std::string& start,
                                    int lastLevel) {
  const fs::path base = (fs::path(root) / start).parent_path();
  const std::string first = fs::path(start).filename().string();
  // Breadth first, so that every file is met first at its lowest level.
  std::map<std::string, int> levels = {{first, 1}};
  std::deque<std::string> queue = {first};
  while (!queue.empty()) {
    const std::string page = queue.front();
    queue.pop_front();
    const int level = levels[page];
    if (!IsPage(page)) continue;
    for (const PageLink& link : PageLinks(ReadFile(base / page))) {
      if (!link.embedded && level >= lastLevel) continue;
      const std::string target = LocalTarget(page, link.value);
      if (target.empty() || levels.count(target) || !fs::is_regular_file(base / target)) continue;
      levels[target] = level + 1;
      queue.push_back(target);
    }
  }
  std::set<std::string> files;
  for (const auto& entry : levels) files.insert(entry.first);
  return files;
}

std::vector<std::string> DanglingLocalLinks(const std::string& storeDir, const std::string& page) {
  std::vector<std::string> dangling;
  for (const PageLink& link : PageLinks(ReadFile(fs::path(storeDir) / page))) {
    const std::string target = LocalTarget(page, link.value);
    if (!target.empty() && !fs::is_regular_file(fs::path(storeDir) / target))
      dangling.push_back(link.value);
  }
  return dangling;
}

std::vector<std::string> RequestTargets(const std::string& accessLog) {
  static const std::regex request("\"[A-Z]+ ([^ \"]*) HTTP/[0-9.]+\"");
  std::vector<std::string> targets;
  for (std::sregex_iterator it(accessLog.begin(), accessLog.end(), request), end; it != end; ++it)
    targets.push_back((*it)[1].str());
  return targets;
}

std::vector<std::string> RepeatedOrDottedTargets(const std::vector<std::string>& targets) {
  static const std::regex dotSegment("/\\.\\.?(/|$)");
  std::vector<std::string> wrong;
  std::set<std::string> seen;
  for (const std::string& target : targets) {
    if (!seen.insert(target).second) wrong.push_back("twice: " + target);
    if (std::regex_search(target, dotSegment)) wrong.push_back("dot segment: " + target);
  }
  return wrong;
}

}  // namespace quorbit
