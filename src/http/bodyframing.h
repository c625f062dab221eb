// Reads the body of an answer off a connection as its framing says: so many
// bytes (CONTENT-LENGTH), chunks with their own sizes, or everything until
// the server closes. Each block handed out is body data only; size lines,
// chunk ends and the trailer are read and passed over.
#pragma once

#include <cstdint>
#include <string_view>

#include "http/responsehead.h"
#include "net/connection.h"

namespace quorbit {

// Body bytes taken per receive (ReceiveBlock counts in 16 bits). Large, so
// that a big file costs few system calls; a multiple of the page size, so
// that the file takes whole pages.
inline constexpr std::uint16_t kBlockSize = 60 * 1024;

// Reads a body as its framing says, one block at a time.
struct BodyReader {
  TcpConnection& connection;
  std::uint16_t idleSeconds;  // how long the body may stay silent (0: DefaultTimeout)
  BodyFraming framing;
  std::int64_t length;         // Length: bytes announced
  std::int64_t received = 0;   // Length: bytes read so far
  std::int64_t chunkLeft = 0;  // Chunked: bytes left in the current chunk
  bool chunkSeen = false;      // Chunked: a chunk's data (and its CR LF) came before
  bool trailerRead = false;    // Chunked: the lines after the last chunk, to their empty one
  bool complete = false;       // the framing's own end was reached
};

// The reader of the body the response announces.
BodyReader ReaderFor(TcpConnection& connection, std::uint16_t idleSeconds,
                     const HttpResponse& response);

// The next block of body bytes, at most kBlockSize of them; false when the
// body has ended, complete or not (body.complete tells).
bool NextBodyBlock(BodyReader& body, char* buffer, std::uint16_t& got);

// The body was read exactly to the end its framing gives (a chunked one with
// its trailer): the next answer on the connection comes next.
bool EndedAsFramed(const BodyReader& body);

// Reads and drops the short body of an answer nothing stores, so that the
// connection can serve the next request; true when it was read to its
// framed end. A long body, or one that runs until the close, is left
// unread (false: the connection is of no further use).
bool SkipShortBody(TcpConnection& connection, std::uint16_t idleSeconds,
                   const HttpResponse& response);

// The hexadecimal size at the start of a chunk-size line (an extension
// after it is ignored); -1 when there is none or it is too large to count.
std::int64_t ParseChunkSize(std::string_view line);

}  // namespace quorbit
