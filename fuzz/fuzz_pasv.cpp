// A 227 reply as a server may send it: the reply code and the six numbers
// inside its parentheses; any line read as a 229 reply; and any name quoted
// in a 257 reply, which must be read back whole.
#include <string>

#include "ftp/ftpreplies.h"
#include "fuzz/fuzz_support.h"

namespace quorbit {

namespace {

// The first six bytes of the input written as a well-formed reply, followed
// by whatever comes after them: the numbers alone decide address and port.
void CheckWellFormedReply(std::string_view text) {
  if (text.size() < 6) return;
  std::string reply = "227 Entering Passive Mode (";
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0) reply += ',';
    reply += std::to_string(static_cast<unsigned char>(text[i]));
  }
  reply += ')';
  reply += text.substr(6);
  const PassiveAddress passive = ParsePassiveReply(reply);
  for (std::size_t i = 0; i < 4; ++i) {
    FUZZ_CHECK(passive.address[i] == static_cast<unsigned char>(text[i]));
  }
  FUZZ_CHECK(passive.port ==
             static_cast<unsigned char>(text[4]) * 256 + static_cast<unsigned char>(text[5]));
}

// The name as a 257 reply quotes it, each quote inside doubled.
void CheckQuotedName(std::string_view name) {
  std::string reply = "257 \"";
  for (char c : name) {
    reply += c;
    if (c == '"') reply += '"';
  }
  reply += "\" is current";
  FUZZ_CHECK(QuotedDirectory(reply) == name);
}

}  // namespace

}  // namespace quorbit

using namespace quorbit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  // A reply line is read in pieces of at most 255 bytes.
  const std::string_view line = text.substr(0, kMaxLinePiece);
  const std::int32_t code = ReplyCode(line);
  FUZZ_CHECK(code >= -1 && code <= 999);
  ParsePassiveReply(line);
  std::uint16_t port = 0;
  FUZZ_CHECK(!ParseExtendedPassiveReply(line, port) || port != 0);
  FUZZ_CHECK(QuotedDirectory(line).size() <= line.size());
  CheckWellFormedReply(text);
  CheckQuotedName(text);
  return 0;
}
