// The run's record of the web addresses already requested, kept whole (a
// false match would silently leave a file unfetched), each with the local
// file it was stored in.
//
// The set has a capacity: a site that makes up new addresses on every page
// must not fill the memory. Once full it takes no new address, and the links
// to new addresses are not followed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quorbit {

class VisitedUrlSet {
 public:
  // Room for a large mirror: an address costs a few hundred bytes with its
  // stored path, so a full set stays within some 20 MiB.
  static constexpr std::size_t kDefaultCapacity = 50000;

  explicit VisitedUrlSet(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // Records the address as requested; false when it was already known or
  // the set is full.
  bool Add(std::string_view url);
  bool Contains(std::string_view url) const { return stored_.contains(std::string(url)); }
  bool Full() const { return stored_.size() >= capacity_; }
  // Records where the address was stored; nothing when it is not in the set.
  void SetStoredPath(std::string_view url, std::string_view path);
  // The local file the address was stored in; empty when it was not.
  std::string_view StoredPath(std::string_view url) const;
  std::size_t Count() const { return stored_.size(); }

 private:
  std::size_t capacity_;
  std::unordered_map<std::string, std::string> stored_;
};

}  // namespace quorbit
