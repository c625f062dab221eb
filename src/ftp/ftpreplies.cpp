#include "ftp/ftpreplies.h"

#include <algorithm>
#include <iterator>

#include "ftp/listing.h"

namespace quorbit {

namespace {

// "NNN" followed by the character c.
bool OpensWith(std::string_view line, std::int32_t code, char c) {
  return line.size() > 3 && line[3] == c && ReplyCode(line) == code;
}

// The last line of a reply of that code: "NNN text" or just "NNN".
bool EndsReply(std::string_view line, std::int32_t code) {
  return OpensWith(line, code, ' ') || (line.size() == 3 && ReplyCode(line) == code);
}

bool IsPreliminary(std::int32_t code) {
  return code >= 100 && code <= 199;
}

}  // namespace

ReplyAssembler::Step ReplyAssembler::Take(std::string_view line) {
  if (open_) {
    if (!EndsReply(line, code_)) return Step::Continues;
    open_ = false;
    return Step::Complete;
  }
  const std::int32_t code = line.size() >= 3 ? ReplyCode(line) : -1;
  if (code < 0) return Step::PassedOver;
  open_ = OpensWith(line, code, '-');
  if (!open_ && !EndsReply(line, code)) return Step::PassedOver;
  code_ = code;
  return open_ ? Step::Continues : Step::Complete;
}

bool MovesData(std::string_view command) {
  static constexpr std::string_view kTransferCommands[] = {"LIST", "MLSD", "NLST", "RETR",
                                                           "STOR", "STOU", "APPE"};
  return std::find(std::begin(kTransferCommands), std::end(kTransferCommands), command) !=
         std::end(kTransferCommands);
}

std::int32_t ReplyCode(std::string_view line) {
  std::string_view digits = line.substr(0, 3);
  if (digits.empty()) return -1;
  std::int32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

PassiveAddress ParsePassiveReply(std::string_view reply) {
  const std::size_t open = reply.find('(');
  std::string_view rest = open == std::string_view::npos ? reply : reply.substr(open + 1);
  rest = rest.substr(0, rest.find(')'));

  std::uint8_t fields[6] = {};
  for (std::uint8_t& field : fields) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    field = static_cast<std::uint8_t>(LeadingNumber(rest.substr(0, comma)));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
  PassiveAddress result;
  result.address = {fields[0], fields[1], fields[2], fields[3]};
  result.port = static_cast<std::uint16_t>(fields[4] * 256 + fields[5]);
  return result;
}

std::string QuotedDirectory(std::string_view reply) {
  const std::size_t open = reply.find('"');
  if (open == std::string_view::npos) return std::string(reply);
  std::string directory;
  for (std::size_t i = open + 1; i < reply.size(); ++i) {
    if (reply[i] == '"') {
      if (i + 1 == reply.size() || reply[i + 1] != '"') break;
      ++i;  // a doubled quote stands for one
    }
    directory += reply[i];
  }
  return directory;
}

bool ParseExtendedPassiveReply(std::string_view reply, std::uint16_t& port) {
  const std::size_t open = reply.find('(');
  const std::size_t close = reply.find(')', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return false;
  const std::string_view inside = reply.substr(open + 1, close - open - 1);
  if (inside.size() < 5) return false;
  const char delimiter = inside[0];
  const bool usable = delimiter >= '!' && delimiter <= '~' && (delimiter < '0' || delimiter > '9');
  if (!usable || inside[1] != delimiter || inside[2] != delimiter || inside.back() != delimiter) {
    return false;
  }
  const std::string_view digits = inside.substr(3, inside.size() - 4);
  if (digits.empty() || digits.size() > 5) return false;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

void ExpectedReplies::StartConversation() {
  owed_.clear();
  assembler_.Reset();
  Owe("");
}

void ExpectedReplies::Owe(std::string_view command) {
  owed_.push_back(OwedReply{std::string(command), ++lastSerial_, false});
}

ExpectedReplies::Taken ExpectedReplies::Take(std::string_view line) {
  Taken taken;
  taken.step = assembler_.Take(line);
  if (taken.step != ReplyAssembler::Step::Complete || owed_.empty()) return taken;
  taken.answer = Answer{assembler_.Code(), owed_.front()};
  if (IsPreliminary(taken.answer.code)) {
    owed_.front().marked = true;
  } else {
    owed_.pop_front();
  }
  return taken;
}

std::uint64_t ExpectedReplies::SerialFor(std::string_view command) const {
  if (command.empty()) return owed_.empty() ? 0 : owed_.front().serial;
  for (auto owed = owed_.rbegin(); owed != owed_.rend(); ++owed) {
    if (owed->command == command) return owed->serial;
  }
  return 0;
}

std::string_view ExpectedReplies::OldestCommand() const {
  return owed_.empty() ? std::string_view{} : std::string_view(owed_.front().command);
}

bool EndsCommandWait(const ExpectedReplies::Answer& answer) {
  return !IsPreliminary(answer.code) || (MovesData(answer.to.command) && !answer.to.marked);
}

}  // namespace quorbit
