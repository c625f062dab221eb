#include "html/visitedset.h"

#include "util/crcunit.h"

bool CrcStringSet::Contains(std::string_view text) {
  std::uint32_t crc = Crc32(text);
  for (std::size_t i = 0; i < count_; ++i)
    if ((*blocks_[i / kBlockEntries])[i % kBlockEntries] == crc) return true;
  if (addWhenMissing_) Add(text);
  return false;
}

bool CrcStringSet::Add(std::string_view text) {
  if (count_ == blocks_.size() * kBlockEntries) blocks_.push_back(std::make_unique<Block>());
  (*blocks_[count_ / kBlockEntries])[count_ % kBlockEntries] = Crc32(text);
  ++count_;
  return true;
}

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
