// The parts of the socket layer that need no call of the system.
#include "net/sockets.h"

#include <algorithm>
#include <cstring>

void UniqueSocket::Reset(SocketHandle handle) {
  if (handle_ != kNoSocket && handle_ != handle) CloseSocket(handle_);
  handle_ = handle;
}

std::uint16_t NetworkOrderPort(std::uint16_t port) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(port >> 8),
                                 static_cast<std::uint8_t>(port & 0xFF)};
  std::uint16_t result = 0;
  std::memcpy(&result, bytes, sizeof result);
  return result;
}

HostAddress ToHostAddress(const SocketAddress& address) {
  HostAddress result;
  result.family = kInternetFamily;
  result.length = sizeof address;
  std::memcpy(result.raw.data(), &address, sizeof address);
  return result;
}

bool IsDottedAddress(std::string_view text) {
  bool allDigitsOrDots = std::all_of(text.begin(), text.end(),
                                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
  return allDigitsOrDots && std::count(text.begin(), text.end(), '.') == 3;
}
