// The run's record of the web addresses already requested, kept whole (a
// false match would silently leave a file unfetched), each with the local
// file it was stored in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

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
