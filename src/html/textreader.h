// Buffered reading of a stored text file from its beginning, and the piece
// reader that feeds the lexer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/filesystem.h"

namespace quorbit {

// A text file open for reading, with its own read buffer. The next character
// to take is buffer[bufPos]; the bytes up to bufEnd came from the file just
// before filePos.
struct TextReader {
  static constexpr std::size_t kBufferSize = 4096;

  SystemHandle handle;
  std::int64_t filePos = 0;  // offset of the underlying file
  std::size_t bufEnd = 0;
  std::size_t bufPos = 0;
  bool failed = false;  // a read error happened since Open
  std::array<char, kBufferSize> buffer{};

  TextReader() = default;
  ~TextReader() { Close(); }
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens the file for reading from its beginning (closing any open one).
  bool Open(std::string_view fileName);
  // True when the file was closed without error or was not open.
  bool Close();
  bool IsOpen() const { return handle.Valid(); }
};

// File offset of the next character not yet taken.
std::int64_t TextPosition(const TextReader& file);

// The text-file end test: true at the end of the data, on a read error, and
// when a Ctrl-Z (26) stands at the read position.
bool TextEof(TextReader& file);

// The longest piece ReadPiece gives; a longer line simply continues in the
// next piece. It bounds what the lexer's push-back buffer has to hold (the
// text of one token and one piece), so it must not grow with a line.
constexpr std::size_t kTextPieceMax = 255;

// Reads the next piece of a line: at most kTextPieceMax characters up to the
// next line end (a carriage return, a line feed or a NUL). A Ctrl-Z is read as an
// ordinary character. When it stops at a line end it consumes that line end,
// together with its partner (line feed after carriage return, carriage return
// after line feed), and returns true; when it stops because the piece is full
// or the data ended, the next character stays unread and the result is false.
bool ReadPiece(TextReader& file, std::string& piece);

}  // namespace quorbit
