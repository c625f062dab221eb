#include "http/headreader.h"

#include "util/stoprequest.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;

// One piece of a header line, charged to the budget (one byte more for a
// line end).
bool AwaitHeaderPiece(TcpConnection& connection, HeaderBudget& budget, std::string& piece) {
  if (!connection.AwaitLine(piece, budget.deadline)) {
    if (!connection.PeerClosed() && !StopRequested() && Clock::now() >= budget.deadline) {
      budget.overrun = HeaderOverrun::Time;
    }
    return false;
  }
  budget.bytesLeft -= static_cast<std::int64_t>(piece.size()) + 1;
  if (budget.bytesLeft < 0) budget.overrun = HeaderOverrun::Bytes;
  return budget.bytesLeft >= 0;
}

// One header line, waited for. A line longer than one piece arrives in
// pieces, which are joined: a rest is never taken for a line of its own (an
// empty rest would otherwise end the header early).
bool ReadHeaderLine(TcpConnection& connection, HeaderBudget& budget, std::string& line) {
  line.clear();
  if (--budget.linesLeft < 0) {
    budget.overrun = HeaderOverrun::Lines;
    return false;
  }
  std::string piece;
  do {
    if (!AwaitHeaderPiece(connection, budget, piece)) return false;
    line += piece;
  } while (piece.size() == kMaxLinePiece);
  return true;
}

}  // namespace

bool CollectHead(TcpConnection& connection, HeaderBudget& budget, std::string& text) {
  std::string line;
  // The status line first, even an empty one; the head ends at the next empty line.
  for (bool first = true;; first = false) {
    if (!ReadHeaderLine(connection, budget, line)) return false;
    text += line;
    text += "\r\n";
    if (!first && line.empty()) return true;
  }
}

std::string OverrunText(std::string_view server, HeaderOverrun overrun, std::uint16_t seconds) {
  std::string text = "Header from " + std::string(server);
  switch (overrun) {
    case HeaderOverrun::Lines:
      text += " longer than " + std::to_string(kHeaderLinesMax) + " lines";
      break;
    case HeaderOverrun::Bytes:
      text += " longer than " + std::to_string(kHeaderBytesMax) + " bytes";
      break;
    case HeaderOverrun::Time:
    case HeaderOverrun::None:
      text += " not complete within " + std::to_string(WholeSeconds(seconds).count()) + " seconds";
      break;
  }
  return text;
}

}  // namespace quorbit
