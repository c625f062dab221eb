#include "html/textreader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace quorbit {

namespace {

constexpr char kCtrlZ = 26;

// Reads the next bufferful of the file into the emptied buffer; a read
// error leaves it empty and marks the reader failed.
void Refill(TextReader& file) {
  long count = ReadFileBytes(file.handle, file.buffer.data(), file.buffer.size());
  if (count < 0) {
    file.failed = true;
    count = 0;
  }
  file.filePos += count;
  file.bufEnd = static_cast<std::size_t>(count);
  file.bufPos = 0;
}

// Makes sure the buffer holds the next character; false at the end of the
// data or on a read error.
bool FillBuffer(TextReader& file) {
  if (file.bufPos < file.bufEnd) return true;
  if (!file.IsOpen()) return false;
  Refill(file);
  return file.bufPos < file.bufEnd;
}

// Line feed first: it ends most lines, so the searches for the others stop
// there.
constexpr std::string_view kLineEnds{"\n\r\0", 3};

bool IsLineEnd(char c) {
  return kLineEnds.find(c) != std::string_view::npos;
}

// How many characters at the start of text are no line ends (searched for
// one line end after the other, each search a fast memchr).
std::size_t BeforeLineEnd(std::string_view text) {
  std::size_t length = text.size();
  for (char lineEnd : kLineEnds) {
    const void* found = std::memchr(text.data(), lineEnd, length);
    if (found != nullptr)
      length = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
  }
  return length;
}

// Consumes the line end at the read position and, when the next character
// is its partner, that one too.
void ConsumeLineEnd(TextReader& file) {
  char first = file.buffer[file.bufPos++];
  if (first == '\0' || !FillBuffer(file)) return;
  char partner = first == '\r' ? '\n' : '\r';
  if (file.buffer[file.bufPos] == partner) ++file.bufPos;
}

}  // namespace

bool TextReader::Open(std::string_view fileName) {
  Close();
  handle = OpenForReading(fileName);
  filePos = 0;
  bufEnd = 0;
  bufPos = 0;
  failed = false;
  return handle.Valid();
}

bool TextReader::Close() {
  if (!handle.Valid()) return true;
  const bool closed = handle.Close();
  bufEnd = 0;
  bufPos = 0;
  return closed;
}

std::int64_t TextPosition(const TextReader& file) {
  return file.filePos - static_cast<std::int64_t>(file.bufEnd) +
         static_cast<std::int64_t>(file.bufPos);
}

bool TextEof(TextReader& file) {
  return !FillBuffer(file) || file.buffer[file.bufPos] == kCtrlZ;
}

bool ReadPiece(TextReader& file, std::string& piece) {
  piece.clear();
  while (FillBuffer(file)) {
    if (IsLineEnd(file.buffer[file.bufPos])) {
      ConsumeLineEnd(file);
      return true;
    }
    if (piece.size() == kTextPieceMax) break;
    // The run of ordinary characters that the buffer holds and the piece
    // has room for, taken at once.
    const char* run = file.buffer.data() + file.bufPos;
    const std::size_t limit = std::min(file.bufEnd - file.bufPos, kTextPieceMax - piece.size());
    const std::size_t count = BeforeLineEnd(std::string_view(run, limit));
    piece.append(run, count);
    file.bufPos += count;
  }
  return false;
}

}  // namespace quorbit
