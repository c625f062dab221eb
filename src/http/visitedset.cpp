#include "http/visitedset.h"

namespace quorbit {

bool VisitedUrlSet::Add(std::string_view url) {
  return !Full() && stored_.emplace(url, std::string()).second;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): key, then its value
void VisitedUrlSet::SetStoredPath(std::string_view url, std::string_view path) {
  const auto found = stored_.find(std::string(url));
  if (found != stored_.end()) found->second = path;
}

std::string_view VisitedUrlSet::StoredPath(std::string_view url) const {
  const auto found = stored_.find(std::string(url));
  return found == stored_.end() ? std::string_view() : std::string_view(found->second);
}

}  // namespace quorbit
