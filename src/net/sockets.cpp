// The parts of the socket layer that need no call of the system.
#include "net/sockets.h"

#include <algorithm>

namespace quorbit {

void UniqueSocket::Reset(SocketHandle handle) {
  if (handle_ != kNoSocket && handle_ != handle) CloseSocket(handle_);
  handle_ = handle;
}

bool IsDottedAddress(std::string_view text) {
  bool allDigitsOrDots = std::all_of(text.begin(), text.end(),
                                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
  return allDigitsOrDots && std::count(text.begin(), text.end(), '.') == 3;
}

std::string_view WithoutBrackets(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace quorbit
