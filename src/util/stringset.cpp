#include "util/stringset.h"

#include "util/crc32.h"

namespace quorbit {

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

}  // namespace quorbit
