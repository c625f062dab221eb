#include "util/crc32.h"

#include <array>

namespace quorbit {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint32_t Crc32(std::string_view text) {
  std::uint32_t value = 0xFFFFFFFFu;
  for (unsigned char c : text) value = kCrcTable[(value ^ c) & 0xFF] ^ (value >> 8);
  return ~value;
}

}  // namespace quorbit
