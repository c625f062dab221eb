// CRC-32 (IEEE 802.3 / ZIP) of a text: the compact fingerprint that the
// visited-URL set and the file-name set keep, and the name of the directory
// that holds another server's files.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorbit {

std::uint32_t Crc32(std::string_view text);

}  // namespace quorbit
