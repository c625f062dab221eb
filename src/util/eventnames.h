// Names of event codes. A session raises its events as enum values whose
// numbers the reporting texts depend on; each enum has a table beside it that
// pairs every value with its name, for tests and diagnostics to read.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorbit {

template <typename Event>
struct EventName {
  Event event;
  std::string_view name;
};

// The name of event in table; "Unknown" for a value the table lacks.
template <typename Event, std::size_t N>
constexpr std::string_view NameOf(const std::array<EventName<Event>, N>& table, Event event) {
  for (const EventName<Event>& entry : table) {
    if (entry.event == event) return entry.name;
  }
  return "Unknown";
}

// True when no value and no name occurs twice in table (checked at compile
// time beside each table, so that a copied row cannot go unnoticed).
template <typename Event, std::size_t N>
constexpr bool NamesAreDistinct(const std::array<EventName<Event>, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      if (table[i].event == table[j].event || table[i].name == table[j].name) return false;
    }
  }
  return true;
}

}  // namespace quorbit
