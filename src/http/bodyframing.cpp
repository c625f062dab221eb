#include "http/bodyframing.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <vector>

#include "http/headreader.h"

namespace quorbit {

namespace {

// The longest body of an answer that is not stored (a redirect, an error
// page, an unchanged file) that is read and dropped to keep the connection;
// past it a new connection costs less.
constexpr std::int64_t kSkippableBody = std::int64_t{64} * 1024;

// Trailer lines no real server sends this many of: past them the body is
// taken to have no end that can be found.
constexpr int kTrailerLinesMax = 64;

enum class Arrival : std::uint8_t { Data, Closed, Idle };

// Waits for body bytes; a failed wait is an orderly end when the server
// closed the connection, and a stall otherwise.
Arrival AwaitBodyBytes(TcpConnection& connection, std::uint16_t seconds) {
  if (connection.WaitReadable(seconds)) return Arrival::Data;
  return connection.PeerClosed() ? Arrival::Closed : Arrival::Idle;
}

// Up to maxCount bytes, waiting (asleep) while none are pending.
Arrival ReceiveSome(BodyReader& body, char* buffer, std::uint16_t maxCount, std::uint16_t& got) {
  for (;;) {
    if (body.connection.ReceiveBlock(buffer, maxCount, got)) return Arrival::Data;
    Arrival arrival = AwaitBodyBytes(body.connection, body.idleSeconds);
    if (arrival != Arrival::Data) return arrival;
  }
}

// Never more than the length: what follows it is no part of the body.
bool NextLengthBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  if (body.received >= body.length) {
    body.complete = body.received == body.length;
    return false;
  }
  const std::int64_t left = body.length - body.received;
  const auto maxCount = left < kBlockSize ? static_cast<std::uint16_t>(left) : kBlockSize;
  if (ReceiveSome(body, buffer, maxCount, got) != Arrival::Data) return false;
  body.received += got;
  return true;
}

bool NextCloseBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  Arrival arrival = ReceiveSome(body, buffer, kBlockSize, got);
  body.complete = arrival == Arrival::Closed;
  return arrival == Arrival::Data;
}

bool ReadChunkLine(BodyReader& body, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + WholeSeconds(body.idleSeconds);
  return body.connection.AwaitLine(line, deadline);
}

// The trailer after the last chunk, up to its empty line: only then does the
// next answer on the connection begin.
bool ReadTrailer(BodyReader& body) {
  std::string line;
  for (int count = 0; count < kTrailerLinesMax; ++count) {
    if (!ReadChunkLine(body, line)) return false;
    if (line.empty()) return true;
  }
  return false;
}

// Reads the CR LF that closes the previous chunk's data and the next size
// line. A size of 0 is the last chunk: the body is complete (its trailer is
// read too, for the connection's sake).
bool StartNextChunk(BodyReader& body) {
  std::string line;
  if (body.chunkSeen && (!ReadChunkLine(body, line) || !line.empty())) return false;
  if (!ReadChunkLine(body, line)) return false;
  std::int64_t size = ParseChunkSize(line);
  body.complete = size == 0;
  if (body.complete) body.trailerRead = ReadTrailer(body);
  if (size <= 0) return false;
  body.chunkLeft = size;
  body.chunkSeen = true;
  return true;
}

bool NextChunkedBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  if (body.chunkLeft == 0 && !StartNextChunk(body)) return false;
  std::uint16_t maxCount =
      body.chunkLeft < kBlockSize ? static_cast<std::uint16_t>(body.chunkLeft) : kBlockSize;
  if (ReceiveSome(body, buffer, maxCount, got) != Arrival::Data) return false;
  body.chunkLeft -= got;
  return true;
}

}  // namespace

BodyReader ReaderFor(TcpConnection& connection, std::uint16_t idleSeconds,
                     const HttpResponse& response) {
  return {connection, idleSeconds, response.framing, response.contentLength};
}

bool NextBodyBlock(BodyReader& body, char* buffer, std::uint16_t& got) {
  switch (body.framing) {
    case BodyFraming::Length:
      return NextLengthBlock(body, buffer, got);
    case BodyFraming::Chunked:
      return NextChunkedBlock(body, buffer, got);
    case BodyFraming::UntilClose:
      break;
  }
  return NextCloseBlock(body, buffer, got);
}

bool EndedAsFramed(const BodyReader& body) {
  const bool framedEnd = body.framing == BodyFraming::Length ||
                         (body.framing == BodyFraming::Chunked && body.trailerRead);
  return body.complete && framedEnd;
}

bool SkipShortBody(TcpConnection& connection, std::uint16_t idleSeconds,
                   const HttpResponse& response) {
  if (response.framing == BodyFraming::UntilClose) return false;
  if (response.framing == BodyFraming::Length && response.contentLength > kSkippableBody) {
    return false;
  }
  BodyReader body = ReaderFor(connection, idleSeconds, response);
  std::vector<char> block(kBlockSize);
  std::int64_t total = 0;
  std::uint16_t got = 0;
  while (total <= kSkippableBody && NextBodyBlock(body, block.data(), got)) total += got;
  return EndedAsFramed(body);
}

std::int64_t ParseChunkSize(std::string_view line) {
  if (line.empty() || !std::isxdigit(static_cast<unsigned char>(line.front()))) return -1;
  std::int64_t size = -1;
  auto parsed = std::from_chars(line.data(), line.data() + line.size(), size, 16);
  return parsed.ec == std::errc() ? size : -1;
}

}  // namespace quorbit
