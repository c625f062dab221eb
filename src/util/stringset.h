// A set of strings that keeps only the CRC-32 of each string: two strings
// with the same CRC count as the same, and letter case matters; entries are
// kept in blocks of 1024, allocated as they are needed. It serves where a
// rare false match costs nothing worse than a skipped look-up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quorbit {

class CrcStringSet {
 public:
  // With addWhenMissing, Contains adds a string that it does not find.
  explicit CrcStringSet(bool addWhenMissing = false) : addWhenMissing_(addWhenMissing) {}

  bool Contains(std::string_view text);
  // Appends the string's CRC without looking for an equal entry.
  bool Add(std::string_view text);
  std::size_t Count() const { return count_; }

 private:
  static constexpr std::size_t kBlockEntries = 1024;
  using Block = std::array<std::uint32_t, kBlockEntries>;

  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t count_ = 0;
  bool addWhenMissing_;
};

}  // namespace quorbit
