// Reads the head of an answer off a connection, line by line, within bounds
// of lines, bytes and time, and hands it on as text for ParseResponseHead.
// A server that sends a field a second, or a byte at a time, or never an
// empty line, must not hold the fetch for as long as it likes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/connection.h"
#include "util/shorttext.h"

namespace quorbit {

// Bounds of one answer's header, interim (1xx) answers before it included.
// Far beyond what real servers send; a server that goes on past them never
// ends its header.
inline constexpr int kHeaderLinesMax = 1000;
inline constexpr std::int64_t kHeaderBytesMax = std::int64_t{256} * 1024;

// A wait in whole seconds, 0 meaning DefaultTimeout.
inline std::chrono::seconds WholeSeconds(std::uint16_t seconds) {
  return std::chrono::seconds(seconds == 0 ? DefaultTimeout : seconds);
}

// Which bound of a header ran out.
enum class HeaderOverrun : std::uint8_t { None, Lines, Bytes, Time };

// What a header may still take.
struct HeaderBudget {
  std::chrono::steady_clock::time_point deadline;
  int linesLeft = kHeaderLinesMax;
  std::int64_t bytesLeft = kHeaderBytesMax;
  HeaderOverrun overrun = HeaderOverrun::None;
};

// Appends one head (a status line, then lines up to the empty one) to text,
// each line whole and ended by CR LF, charged to the budget. False when the
// connection ends, or a bound runs out (budget.overrun says which), before
// the empty line; text then holds the lines that came whole.
bool CollectHead(TcpConnection& connection, HeaderBudget& budget, std::string& text);

// The line that says which bound the header from server ran past; seconds
// is the time bound (0: DefaultTimeout).
std::string OverrunText(std::string_view server, HeaderOverrun overrun, std::uint16_t seconds);

}  // namespace quorbit
