// Two sets of strings. CrcStringSet keeps only the CRC-32 of each string: two
// strings with the same CRC count as the same, and letter case matters;
// entries are kept in blocks of 1024, allocated as they are needed. It serves
// where a rare false match costs nothing worse than a skipped look-up.
//
// VisitedUrlSet is the run's record of the web addresses already requested,
// kept whole (a false match there would silently leave a file unfetched),
// each with the local file it was stored in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

class VisitedUrlSet {
 public:
  // Records the address as requested; false when it was already known.
  bool Add(std::string_view url);
  bool Contains(std::string_view url) const { return stored_.contains(std::string(url)); }
  // Records where the (known) address was stored.
  void SetStoredPath(std::string_view url, std::string_view path);
  // The local file the address was stored in; empty when it was not.
  std::string_view StoredPath(std::string_view url) const;
  std::size_t Count() const { return stored_.size(); }

 private:
  std::unordered_map<std::string, std::string> stored_;
};
