#include "http/visitedset.h"

bool VisitedUrlSet::Add(std::string_view url) {
  return stored_.emplace(url, std::string()).second;
}

void VisitedUrlSet::SetStoredPath(std::string_view url, std::string_view path) {
  stored_[std::string(url)] = path;
}

std::string_view VisitedUrlSet::StoredPath(std::string_view url) const {
  const auto found = stored_.find(std::string(url));
  return found == stored_.end() ? std::string_view() : std::string_view(found->second);
}
