// Reading FTP replies: the lines of the control connection put together into
// replies by their codes, each whole reply matched to the command it answers
// (the oldest one still owed), and the pure readers of the replies that name
// a passive data port. Nothing here touches a connection.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "net/connection.h"

namespace quorbit {

// Puts replies together from the lines of the control connection: a line
// "NNN-" opens a reply of several lines that ends at the first line that
// begins "NNN " (or is just "NNN") with the same code, whatever the lines
// between say; "NNN " (or "NNN") alone is a whole reply. A line outside a
// reply that opens none (a blank line, text without a code) is no reply and
// is passed over.
class ReplyAssembler {
 public:
  enum class Step { PassedOver, Continues, Complete };
  Step Take(std::string_view line);
  // The code of the reply being read, or of the one just completed.
  std::int32_t Code() const { return code_; }
  bool InReply() const { return open_; }
  void Reset() { *this = ReplyAssembler{}; }

 private:
  std::int32_t code_ = -1;
  bool open_ = false;  // a multi-line reply has begun and not ended
};

// True for a command whose data moves between its preliminary (1xx) reply
// and its final one: its wait ends at the preliminary mark.
bool MovesData(std::string_view command);

// The first three characters of a reply line as a decimal number; -1 when
// they are empty or not all digits.
std::int32_t ReplyCode(std::string_view line);

// Address and port named by a 227 reply: the six comma-separated numbers
// inside its parentheses, each taken by its leading digits (spaces before
// them skipped, 0 without digits), low byte only. Nothing is checked.
struct PassiveAddress {
  IpAddress address = {};
  std::uint16_t port = 0;
};
PassiveAddress ParsePassiveReply(std::string_view reply);

// The directory a 257 reply names: what follows its first double quote, up
// to the next one that is not doubled, with each doubled quote inside read
// as one quote of the name; without quotes, the whole text (or the rest
// after the only one).
std::string QuotedDirectory(std::string_view reply);

// The port named by a 229 reply: "(<d><d><d><port><d>)", where <d> is any
// printable character other than a digit, the same all four times. False
// when the parentheses do not hold exactly that or the port is not 1 to
// 65535.
bool ParseExtendedPassiveReply(std::string_view reply, std::uint16_t& port);

// The replies owed to the commands sent, oldest first, and the reply being
// put together from the lines read. A fresh conversation owes the greeting.
class ExpectedReplies {
 public:
  // A reply owed to a command sent: the command's keyword (empty for the
  // greeting), a number that tells commands of the same keyword apart, and
  // whether its preliminary reply has come.
  struct OwedReply {
    std::string command;
    std::uint64_t serial = 0;
    bool marked = false;
  };
  // One whole reply to the oldest owed command, and which one it answered.
  struct Answer {
    std::int32_t code = -1;  // -1: none
    OwedReply to;            // as it stood before this reply
  };
  struct Taken {
    ReplyAssembler::Step step = ReplyAssembler::Step::PassedOver;
    Answer answer;  // code -1 unless the line completed a reply that was owed
  };

  ExpectedReplies() { StartConversation(); }
  // Forgets every owed reply and the reply being read, then owes the greeting.
  void StartConversation();
  void Owe(std::string_view command);
  // Takes one line. A reply that completes while no command owes one (a
  // server that speaks out of turn) answers nothing.
  Taken Take(std::string_view line);
  // The serial of the reply a wait for command (its keyword; empty: the
  // oldest owed) waits for: the last one sent with that keyword; 0 when none
  // is owed.
  std::uint64_t SerialFor(std::string_view command) const;
  bool AnyOwed() const { return !owed_.empty(); }
  bool InReply() const { return assembler_.InReply(); }
  // The keyword of the oldest command owed a reply; empty when none is owed
  // or it is the greeting.
  std::string_view OldestCommand() const;

 private:
  std::deque<OwedReply> owed_;
  std::uint64_t lastSerial_ = 0;
  ReplyAssembler assembler_;
};

// True when the answer ends the wait for the command it answers: a final
// reply, or the first preliminary one to a command that moves data.
bool EndsCommandWait(const ExpectedReplies::Answer& answer);

}  // namespace quorbit
