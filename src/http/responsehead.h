// The head of an HTTP response as text: its status line and the header
// fields the client acts on. Pure functions over text, so that whatever a
// server sends can be checked here without a connection.
//
//   ResponseHead head = ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
//   head.response.status -> 200, head.response.framing -> BodyFraming::Length
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "report/datetext.h"

namespace quorbit {

// How the end of a body is known.
enum class BodyFraming : std::uint8_t {
  UntilClose = 0,  // no length given: the server closes after the last byte
  Length = 1,      // CONTENT-LENGTH bytes (possibly none)
  Chunked = 2,     // TRANSFER-ENCODING chunked: size lines, ended by a 0 chunk
};

// Longest address a redirect may lead to; a longer one is refused, never
// followed under a shortened name.
inline constexpr std::size_t kMaxRedirectLength = 255;

// Values of the last response read; cleared at the start of each header read.
struct HttpResponse {
  std::string fileName;            // local name (no directory) the body is stored under
  std::string contentType;         // upper case
  std::int64_t contentLength = 0;  // 0: not given (or chunked)
  PackedDateTime lastModified = 0;
  bool connectionClose = false;      // CONNECTION named CLOSE
  bool connectionKeepAlive = false;  // CONNECTION named KEEP-ALIVE (an HTTP/1.0 server keeps it)
  std::uint16_t status = 0;
  PackedDateTime serverDate = 0;
  std::string server;             // upper case
  std::int32_t transferTime = 0;  // whole seconds spent receiving the body
  BodyFraming framing = BodyFraming::UntilClose;
  // A CONTENT-LENGTH that gives no length (see ParseContentLength), or two
  // that differ: where the body ends cannot be known.
  bool lengthUnusable = false;
  // LOCATION as written; once a redirect is followed or refused, the address
  // it led to. locationTooLong: the value is longer than kMaxRedirectLength.
  std::string location;
  bool locationTooLong = false;
};

// Why the text of a head gives no response that can be used.
enum class HeadRefusal : std::uint8_t {
  None = 0,
  NoEnd = 1,           // the text ends before the empty line that ends a head
  UnusableLength = 2,  // a final answer whose CONTENT-LENGTH gives no length
};

// One head read from text: the status line, the response its fields make
// (fileName and transferTime left empty), and how many bytes of the text
// it took, its empty line included.
struct ResponseHead {
  std::string statusLine;
  HttpResponse response;
  std::size_t size = 0;
  HeadRefusal refusal = HeadRefusal::None;
};

// The first head in text: a status line, then field lines up to an empty
// one. A line ends with CR, and an LF right after the CR belongs to that end
// (an LF alone ends no line), as the connection reads lines. A chunked body
// voids any CONTENT-LENGTH beside it.
ResponseHead ParseResponseHead(std::string_view text);

// The number after the first blank of a status line; 0 when there is none.
std::uint16_t StatusCode(std::string_view statusLine);

// An interim answer (100 Continue, 103 Early Hints) comes before the one
// that answers the request.
constexpr bool IsInterim(std::uint16_t status) {
  return status >= 100 && status < 200;
}

// The comma-separated list names the token (both upper case).
bool HasToken(std::string_view list, std::string_view token);

// A header line split at its first colon: the field name before it and the
// value after it without the blanks and tabs around it, both as written.
// False for a line that is no field: no colon, or a name that is empty or
// holds white space (a folded continuation line, "NAME : value").
struct HeaderField {
  std::string_view name;
  std::string_view value;
};
std::optional<HeaderField> ParseHeaderField(std::string_view line);

// A CONTENT-LENGTH value: decimal digits only; -1 for anything else (a
// sign, a list) or a number beyond 63 bits. An answer with such a value has no
// body length anyone can know, and cannot be used.
std::int64_t ParseContentLength(std::string_view value);

// Date of an upper-case DATE or LAST-MODIFIED value, in the forms
// "SUN, 06 NOV 1994 08:49:37 GMT" and "SUNDAY, 06-NOV-94 08:49:37 GMT"; the
// time as written, without zone conversion. 0 when it makes no valid date.
PackedDateTime ParseHttpDate(std::string_view text);

}  // namespace quorbit
